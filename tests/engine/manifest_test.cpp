// The manifest: records and their refusals, safe names, unpacking and opening the body, and
// the whole download over a loopback server.

#include "engine/manifest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#if defined(_WIN32) && !defined(WIN32_LEAN_AND_MEAN)
#define WIN32_LEAN_AND_MEAN  // the SDK's Types.h includes <windows.h>
#endif
#include <LzmaEnc.h>
#define CRYPTOPP_ENABLE_NAMESPACE_WEAK 1
#include <cryptopp/md5.h>

#include "codec/builtin_key.h"
#include "publish/sealer.h"
#include "support/test_http_server.h"

namespace repair {
namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr std::int32_t Code(RecoveryError e) { return static_cast<std::int32_t>(e); }

void PutLe(Bytes& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
}

// One record whose digest is 16 times `fill`; `lengthField` overrides the name length.
Bytes Record(const std::string& name, std::uint32_t size, std::uint8_t fill, int lengthField = -1) {
  Bytes out;
  PutLe(out, static_cast<std::uint32_t>(lengthField >= 0 ? lengthField : int(name.size())), 2);
  out.insert(out.end(), name.begin(), name.end());
  PutLe(out, size, 4);
  out.insert(out.end(), 16, fill);
  return out;
}

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes Seal(const Bytes& plaintext) {
  static const Bytes key =
      publish::PublicKeyFromPrivate(Bytes(BuiltinKey(), BuiltinKey() + BuiltinKeyLength()));
  return publish::Seal(key, plaintext);
}

void* EncoderAlloc(void*, size_t size) { return std::malloc(size); }
void EncoderFree(void*, void* address) { std::free(address); }

// The manifest's raw stream: lc 3, lp 0, pb 2, 64 KiB dictionary, no properties header.
Bytes Compress(const Bytes& data, bool endMark = true) {
  CLzmaEncProps props;
  LzmaEncProps_Init(&props);
  props.lc = 3;
  props.lp = 0;
  props.pb = 2;
  props.dictSize = 1 << 16;
  Bytes out(data.size() + data.size() / 3 + 256);
  SizeT outLength = out.size();
  Byte encodedProps[LZMA_PROPS_SIZE];
  SizeT encodedPropsSize = LZMA_PROPS_SIZE;
  ISzAlloc alloc = {EncoderAlloc, EncoderFree};
  const Byte dummy = 0;
  EXPECT_EQ(SZ_OK,
            LzmaEncode(out.data(), &outLength, data.empty() ? &dummy : data.data(), data.size(),
                       &props, encodedProps, &encodedPropsSize, endMark, nullptr, &alloc, &alloc));
  out.resize(outLength);
  return out;
}

Bytes Body(std::uint32_t sealedSize, const Bytes& stream) {
  Bytes out;
  PutLe(out, sealedSize, 4);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

Bytes ManifestBody(const Bytes& plaintext) {
  const Bytes sealed = Seal(plaintext);
  return Body(static_cast<std::uint32_t>(sealed.size()), Compress(sealed));
}

// Each call works on an exactly sized heap copy, so a sanitizer build sees any over-read.
RecoveryError ParseRecords(const Bytes& plaintext, FileList& files) {
  std::unique_ptr<std::uint8_t[]> copy(new std::uint8_t[plaintext.size()]);
  std::copy(plaintext.begin(), plaintext.end(), copy.get());
  return ParseManifestRecords(copy.get(), std::uint32_t(plaintext.size()), files);
}

HeapBuffer Copy(const Bytes& bytes) {
  HeapBuffer copy;
  EXPECT_TRUE(copy.Allocate(bytes.size()));
  std::copy(bytes.begin(), bytes.end(), copy.data());
  return copy;
}

const Bytes kRefused = {'r', 'e', 'f', 'u', 's', 'e', 'd'};

// The opened plaintext, or kRefused with the code checked. The recovery state's code is the
// caller's to set: opening leaves it as it was.
Bytes Open(HeapBuffer body, RecoveryError expectedError = RecoveryError::None) {
  const auto length = static_cast<std::uint32_t>(body.size());
  HeapBuffer plaintext;
  std::uint32_t plaintextLength = 1;
  SetError(RecoveryError::NetworkDisconnected);
  const RecoveryError code = OpenManifestBody(std::move(body), length, plaintext, plaintextLength);
  EXPECT_EQ(GetError(), Code(RecoveryError::NetworkDisconnected));
  SetError(RecoveryError::None);
  EXPECT_EQ(code, expectedError);
  if (code != RecoveryError::None) {
    EXPECT_EQ(plaintextLength, 0u);
    return kRefused;
  }
  return Bytes(plaintext.data(), plaintext.data() + plaintextLength);
}

Bytes Open(const Bytes& body, RecoveryError expectedError = RecoveryError::None) {
  return Open(Copy(body), expectedError);
}

void ExpectEntry(const FileList& files, std::size_t index, const std::string& name,
                 std::uint32_t size, std::uint8_t fill) {
  const FileEntry* entry = files.At(index);
  ASSERT_NE(entry, nullptr);
  EXPECT_EQ(entry->name, name);
  EXPECT_EQ(entry->size, size);
  EXPECT_EQ(Bytes(entry->md5, entry->md5 + 16), Bytes(16, fill));
  EXPECT_EQ(entry->state.load(), std::uint32_t{Listed});
}

class ManifestTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(ResetRecoveryState()); }
  FileList files_;
};

TEST_F(ManifestTest, RecordsBecomeEntriesInOrder) {
  const std::string longest(259, 'n');
  ASSERT_EQ(ParseRecords(Join({Record("repair.exe", 1000, 0x11),
                               Record("data\\ui\\font.dat", 0, 0x22),  // size 0 is taken
                               Record("data\\ui\\font.dat", 7, 0x33),  // duplicates are kept
                               Record(std::string("maps\\a.map\0junk", 15), 9, 0x44),
                               Record(longest, 0xFFFFFFFF, 0x55)}),
                         files_),
            RecoveryError::None);
  ASSERT_EQ(files_.size(), 5u);
  ExpectEntry(files_, 0, "repair.exe", 1000, 0x11);
  ExpectEntry(files_, 1, "data\\ui\\font.dat", 0, 0x22);
  ExpectEntry(files_, 2, "data\\ui\\font.dat", 7, 0x33);
  // The name stops at its zero byte; the next record still starts after all 15 bytes.
  ExpectEntry(files_, 3, "maps\\a.map", 9, 0x44);
  ExpectEntry(files_, 4, longest, 0xFFFFFFFF, 0x55);
  EXPECT_EQ(ParseRecords(Bytes(), files_), RecoveryError::None);
  EXPECT_EQ(files_.size(), 5u);
}

TEST_F(ManifestTest, MalformedOrUnsafeRecordsRefuseTheWholeManifest) {
  const Bytes good = Record("good.dat", 1, 0x01);
  const Bytes full = Record("x.dat", 9, 0x02);
  const Bytes tails[] = {
      {0x01},                                     // a lone length byte
      Bytes(full.begin(), full.end() - 1),        // one byte short
      Record("x.dat", 9, 0, 200),                 // the name runs past the end
      Record(std::string(260, 'n'), 1, 0),        // name length 260
      Record("", 0x01010101, 0x41, 0xFFFF),       // name length -1
      Record("", 1, 0),                           // an empty name
      Record(std::string("\0a", 2), 1, 0),        // empty once cut at its zero byte
      Record("..\\..\\Windows\\evil.dll", 1, 0),  // unsafe
      Record(std::string("C:\0.dat", 7), 1, 0),   // unsafe once cut
  };
  for (const Bytes& tail : tails) {
    SetError(RecoveryError::None);
    EXPECT_EQ(ParseRecords(Join({good, tail}), files_), RecoveryError::InvalidData) << tail.size();
    EXPECT_EQ(GetError(), Code(RecoveryError::None));  // the caller reports the code
    EXPECT_EQ(files_.size(), 0u);
  }
}

TEST(SafeNameTest, KeepsNamesInsideTheClientFolder) {
  for (const char* name : {"filehash.tsf", "data\\ui\\font.dat", "data/ui/f.dat", "..a", ".hidden",
                           ". x", "a .b", "REPAIR~1.EXE", "console.dat", "com10", "lpt0.txt",
                           "nul_.txt", "a.con", "COM", "auxiliary\\x"}) {
    EXPECT_TRUE(IsSafeRelativeName(name)) << name;
  }
  for (const char* name :
       {"", "\\Windows\\evil.dll", "/etc/passwd", "\\\\server\\share\\x", "C:\\x.dll", "C:x.dll",
        "data\\f.dat:stream", "..", "..\\x", "../x", "data\\..\\..\\x", "data/../../x", "data\\..",
        "data\\", "data/", "...\\x", ".. \\x", "data\\ . .\\x",
        // Spellings Windows rewrites into another name: "repair.exe" each time.
        ".\\repair.exe", "./repair.exe", "repair.exe.", "repair.exe ", "a..", "a\\.\\b",
        "data\\\\x", "data//x", "data.\\x", "data \\x",
        // Devices in every folder: what is written to them goes to a port or nowhere.
        "CON", "nul.txt", "data\\aux", "Com1.dat", "lpt9", "prn\\x", "conout$", "AUX .dat",
        "com\xB9.dat"}) {
    EXPECT_FALSE(IsSafeRelativeName(name)) << name;
  }
}

// In a double-byte code page (932 here) "\x95\x5C" is one character, not a name and a
// separator; in the others it is both.
TEST(SafeNameTest, ReadsNamesCharacterByCharacterInTheirCodePage) {
  platform::NameRules shiftJis;
  shiftJis.codePage = 932;
  platform::NameRules bytes;
  struct Case {
    const char* name;
    bool safeInShiftJis;
    bool safeAsBytes;
  };
  const Case cases[] = {
      {"data\\\x95\x5C.txt", true, true},
      {"data\\\x95\x5C", true, false},
      {"\x95\x5C\\..\\x", false, false},
      {"\x95\x5C..\\x", false, false},  // a component that ends with a dot
      {"data/\x95\x5C/x", true, false},
      {"\x95\x5C\\\\x", false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(IsSafeRelativeName(c.name, shiftJis), c.safeInShiftJis);
    EXPECT_EQ(IsSafeRelativeName(c.name, bytes), c.safeAsBytes);
  }
}

TEST_F(ManifestTest, BodyOpensToItsRecords) {
  const Bytes plaintext = Join({Record("a.dat", 1, 1), Record("b\\c.dat", 2, 2)});
  EXPECT_EQ(Open(ManifestBody(plaintext)), plaintext);
  EXPECT_EQ(Open(ManifestBody(Bytes())), Bytes());  // no records: a 61-byte blob

  // The declared size is a capacity: larger works with an end marker, exact without one.
  const Bytes sealed = Seal(plaintext);
  const auto size = static_cast<std::uint32_t>(sealed.size());
  EXPECT_EQ(Open(Body(size + 5000, Compress(sealed))), plaintext);
  EXPECT_EQ(Open(Body(size, Compress(sealed, false))), plaintext);
}

// The largest single request to the C library's allocator while `run` runs, where the test
// program is linked to count them (natively); 0 elsewhere.
std::atomic<std::size_t> gLargestRequest{0};
std::atomic<bool> gCounting{false};

template <typename Run>
std::size_t LargestAllocation(Run run) {
  gLargestRequest.store(0);
  gCounting.store(true);
  run();
  gCounting.store(false);
  return gLargestRequest.load();
}

TEST_F(ManifestTest, SizeFieldsBeyondWhatThePackedDataCanHoldAreRefusedWithoutAllocating) {
  // Larger than the decoder's own tables, so that the blob is the largest thing to allocate.
  Bytes plaintext;
  for (int i = 0; i < 1000; ++i) {
    const Bytes record = Record("file" + std::to_string(i), 1, static_cast<std::uint8_t>(i));
    plaintext.insert(plaintext.end(), record.begin(), record.end());
  }
  const Bytes sealed = Seal(plaintext);
  const Bytes stream = Compress(sealed);
  // Packed ciphertext does not shrink: twice the packed length and 64 KiB is the most a size
  // field may claim.
  const auto limit = static_cast<std::uint32_t>(stream.size() * 2 + 64 * 1024);
  EXPECT_EQ(Open(Body(limit, stream)), plaintext);
  for (std::uint32_t claim : {limit + 1, 0x40000000u, 0xFFFFFFFFu}) {
    HeapBuffer body = Copy(Body(claim, stream));
    std::size_t largest = LargestAllocation(
        [&] { EXPECT_EQ(Open(std::move(body), RecoveryError::InvalidData), kRefused); });
    EXPECT_LT(largest, 1u << 20) << claim;
  }
  // Neither the unpacked blob nor the plaintext takes more than the blob's own size.
  const auto exact = static_cast<std::uint32_t>(sealed.size());
  HeapBuffer body = Copy(Body(exact, stream));
  const std::size_t largest =
      LargestAllocation([&] { EXPECT_EQ(Open(std::move(body)), plaintext); });
  EXPECT_LE(largest, exact);
}

TEST_F(ManifestTest, BodiesThatDoNotOpenAreInvalidData) {
  Bytes sealed = Seal(Record("a.dat", 1, 1));
  const auto size = static_cast<std::uint32_t>(sealed.size());
  const Bytes good = Body(size, Compress(sealed));
  const Bytes bodies[] = {
      {},
      {0x10, 0, 0},
      {0x10, 0, 0, 0},  // under 4 bytes, and no LZMA data at all
      Bytes(good.begin(), good.begin() + long(good.size() / 2)),
      Body(size - 1, Compress(sealed)),  // goes on past the declared size
      Body(size, Bytes(40, 0xFF)),
      Body(60, Compress(Bytes(60, 0x04))),  // a blob under 61 bytes
      Body(0, Compress(Bytes())),
      Body(size, Compress(publish::Seal(publish::GenerateKeyPair().publicKey, {1}))),
  };
  for (const Bytes& body : bodies) {
    EXPECT_EQ(Open(body, RecoveryError::InvalidData), kRefused) << body.size();
  }
  sealed[45] ^= 1;
  EXPECT_EQ(Open(Body(size, Compress(sealed)), RecoveryError::InvalidData), kRefused);
}

class ManifestDownloadTest : public ManifestTest {
 protected:
  test::TestHttpServer server_;
};

TEST_F(ManifestDownloadTest, OwnEntryComesFirstThenTheRecords) {
  const Bytes body = ManifestBody(Join({Record("repair.exe", 10, 0xA1), Record("b.dat", 2, 0xB2)}));
  server_.ServeFile("/client/1/2/filehash.tsf", body);
  ASSERT_TRUE(ReadManifest(server_.Url("/client/1/2/filehash.tsf").c_str(), nullptr, files_).ok());
  ASSERT_EQ(files_.size(), 3u);
  Bytes md5(16);
  CryptoPP::Weak1::MD5().CalculateDigest(md5.data(), body.data(), body.size());
  EXPECT_EQ(files_.At(0)->name, "filehash.tsf");
  EXPECT_EQ(files_.At(0)->size, body.size());
  EXPECT_EQ(Bytes(files_.At(0)->md5, files_.At(0)->md5 + 16), md5);
  ExpectEntry(files_, 1, "repair.exe", 10, 0xA1);
  ExpectEntry(files_, 2, "b.dat", 2, 0xB2);
}

TEST_F(ManifestDownloadTest, FailuresAndWhatTheyLeave) {
  const auto read = [&](const std::string& target) {
    return ReadManifest(server_.Url(target).c_str(), nullptr, files_).code;
  };
  EXPECT_EQ(read("/filehash.tsf"), RecoveryError::NotExistHashFile);
  EXPECT_EQ(files_.size(), 0u);

  EXPECT_EQ(read("/" + std::string(300, 'x')), RecoveryError::Unknown);

  // An empty manifest name would make the client folder itself an entry.
  server_.ServeFile("/dir/", ManifestBody(Bytes()));
  EXPECT_EQ(read("/dir/"), RecoveryError::InvalidData);
  EXPECT_EQ(files_.size(), 0u);

  // Content that is refused keeps the own entry only.
  server_.ServeFile("/evil.tsf", ManifestBody(Join({Record("ok", 1, 1), Record("C:\\x", 1, 1)})));
  EXPECT_EQ(read("/evil.tsf"), RecoveryError::InvalidData);
  ASSERT_EQ(files_.size(), 1u);
  EXPECT_EQ(files_.At(0)->name, "evil.tsf");
}

// Reading a manifest fills the caller's list alone: it neither waits for the shared list's lock,
// which the refresh holds while it reads rows, nor writes the shared error code, but for what
// the download itself records there.
TEST_F(ManifestDownloadTest, ReadingTouchesNeitherTheSharedListNorTheErrorCode) {
  server_.ServeFile("/1/filehash.tsf", ManifestBody(Record("a.dat", 1, 1)));
  server_.ServeFile("/2/filehash.tsf", ManifestBody(Record("..\\a.dat", 1, 1)));
  struct Case {
    const char* target;
    RecoveryError code;
    std::size_t entries;
  };
  for (const Case& c : {Case{"/1/filehash.tsf", RecoveryError::None, 2},
                        Case{"/2/filehash.tsf", RecoveryError::InvalidData, 1}}) {
    SCOPED_TRACE(c.target);
    FileList entries;
    std::atomic<bool> done{false};
    RecoveryError code = RecoveryError::Unknown;
    SetError(RecoveryError::NetworkDisconnected);
    std::unique_lock<std::mutex> lock(GlobalRecoveryState().filesMutex);
    std::thread reader([&] {
      code = ReadManifest(server_.Url(c.target).c_str(), nullptr, entries).code;
      done.store(true);
    });
    for (int i = 0; i < 1000 && !done.load(); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(done.load()) << "the reader waits for the shared list";
    lock.unlock();
    reader.join();
    EXPECT_EQ(code, c.code);
    EXPECT_EQ(entries.size(), c.entries);
    EXPECT_EQ(GetError(), Code(RecoveryError::NetworkDisconnected));
    EXPECT_EQ(CountFiles(0), 0u);
  }
}

TEST_F(ManifestDownloadTest, AnAnnouncedLengthOverTheBoundIsRefusedBeforeAnythingIsAllocated) {
  for (std::uint64_t announced :
       {std::uint64_t{kMaxManifestLength} + 1, std::uint64_t{4000000000}}) {
    server_.Serve("/big.tsf", test::Response::Declaring(announced, std::string(1000, 'x'),
                                                        test::Response::Ending::kClose));
    const std::size_t largest = LargestAllocation([&] {
      EXPECT_EQ(ReadManifest(server_.Url("/big.tsf").c_str(), nullptr, files_).code,
                RecoveryError::InvalidData)
          << announced;
    });
    // The HTTP client's own buffers stay under this; the old fetch asked for what was announced.
    EXPECT_LE(largest, std::size_t{1} << 20) << announced;
    EXPECT_EQ(files_.size(), 0u);
  }
}

}  // namespace
}  // namespace repair

#if defined(REPAIR_COUNT_MALLOC)
// Linked with --wrap=malloc: every call of malloc in the program's own objects and static
// libraries comes here first.
extern "C" void* __real_malloc(std::size_t size);
extern "C" void* __wrap_malloc(std::size_t size) {
  if (repair::gCounting.load(std::memory_order_relaxed)) {
    std::size_t seen = repair::gLargestRequest.load(std::memory_order_relaxed);
    while (size > seen && !repair::gLargestRequest.compare_exchange_weak(seen, size)) {
    }
  }
  return __real_malloc(size);
}
#endif

/* Adds a PEM or DER certificate to the local machine's "Root" store: the https tests' CA, put
 * into a Wine prefix of the tests' own so that WinINet trusts the test server.
 *   add_root_cert CERTIFICATE_FILE
 * Exit code 0 when the certificate is in the store, 1 otherwise (the reason on stderr). */
#include <windows.h>
#include <wincrypt.h>
#include <stdio.h>
#include <stdlib.h>

static BYTE* ReadAll(const char* path, DWORD* size) {
  FILE* file = fopen(path, "rb");
  BYTE* data = NULL;
  long length;
  if (file == NULL) return NULL;
  if (fseek(file, 0, SEEK_END) == 0 && (length = ftell(file)) > 0 && length < (1L << 20) &&
      fseek(file, 0, SEEK_SET) == 0 && (data = (BYTE*)malloc((size_t)length)) != NULL) {
    if (fread(data, 1, (size_t)length, file) != (size_t)length) {
      free(data);
      data = NULL;
    } else {
      *size = (DWORD)length;
    }
  }
  fclose(file);
  return data;
}

int main(int argc, char** argv) {
  DWORD size = 0, derSize = 0;
  BYTE* text;
  BYTE* der;
  HCERTSTORE store;
  BOOL added;
  if (argc != 2) {
    fprintf(stderr, "usage: add_root_cert CERTIFICATE_FILE\n");
    return 1;
  }
  text = ReadAll(argv[1], &size);
  if (text == NULL) {
    fprintf(stderr, "cannot read %s\n", argv[1]);
    return 1;
  }
  /* PEM or DER, whichever the file holds. */
  if (!CryptStringToBinaryA((const char*)text, size, CRYPT_STRING_BASE64HEADER, NULL, &derSize,
                            NULL, NULL)) {
    der = text;
    derSize = size;
  } else {
    der = (BYTE*)malloc(derSize);
    if (der == NULL || !CryptStringToBinaryA((const char*)text, size, CRYPT_STRING_BASE64HEADER,
                                             der, &derSize, NULL, NULL)) {
      fprintf(stderr, "cannot decode %s\n", argv[1]);
      return 1;
    }
  }
  store = CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
  if (store == NULL) {
    fprintf(stderr, "cannot open the Root store (error %lu)\n", GetLastError());
    return 1;
  }
  added = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, der, derSize,
                                           CERT_STORE_ADD_REPLACE_EXISTING, NULL);
  if (!added) fprintf(stderr, "cannot add the certificate (error %lu)\n", GetLastError());
  CertCloseStore(store, 0);
  return added ? 0 : 1;
}

#include "ui/terminal/prompt.h"

#include "platform/posix/fd_io.h"
#include "platform/posix/tty.h"
#include "ui/terminal/text_fit.h"

namespace repair::terminal {
namespace {

constexpr char kCtrlC = 0x03;

Answer Closed(MessageBoxKind kind, bool closeWindow) {
  Answer answer;
  answer.answer = ClosedAnswer(kind);
  answer.closeWindow = closeWindow;
  return answer;
}

Answer Given(MessageBoxAnswer given) {
  Answer answer;
  answer.answer = given;
  return answer;
}

}  // namespace

MessageBoxAnswer ClosedAnswer(MessageBoxKind kind) {
  return kind == MessageBoxKind::kYesNoQuestion ? MessageBoxAnswer::kNo : MessageBoxAnswer::kOk;
}

Answer AnswerByKey(const AnswerSource& source, MessageBoxKind kind) {
  const bool question = kind == MessageBoxKind::kYesNoQuestion;
  for (;;) {
    char key = 0;
    switch (platform::ReadByteOrSignal(source.inputFd, source.signalFd, key)) {
      case platform::WaitedRead::kSignal:
        if (source.signalsClose()) return Closed(kind, false);
        continue;
      case platform::WaitedRead::kEnd: {
        Answer gone = Closed(kind, true);
        gone.keyboardGone = true;
        return gone;
      }
      case platform::WaitedRead::kByte: break;
    }
    if (key == kCtrlC) return Closed(kind, true);
    if (question && (key == 'y' || key == 'Y')) return Given(MessageBoxAnswer::kYes);
    if (question && (key == 'n' || key == 'N')) return Given(MessageBoxAnswer::kNo);
    if (!question && (key == '\r' || key == '\n')) return Given(MessageBoxAnswer::kOk);
  }
}

Answer AnswerByLine(const AnswerSource& source, MessageBoxKind kind) {
  bool first = true;
  bool yes = false;
  for (;;) {
    char byte = 0;
    const platform::WaitedRead got =
        platform::ReadByteOrSignal(source.inputFd, source.signalFd, byte);
    if (got == platform::WaitedRead::kSignal) {
      if (source.signalsClose()) return Closed(kind, false);
      continue;
    }
    if (got == platform::WaitedRead::kEnd && first) return Closed(kind, false);
    if (got == platform::WaitedRead::kEnd || byte == '\n') break;
    if (first) yes = byte == 'y' || byte == 'Y';
    first = false;
  }
  if (kind != MessageBoxKind::kYesNoQuestion) return Given(MessageBoxAnswer::kOk);
  return Given(yes ? MessageBoxAnswer::kYes : MessageBoxAnswer::kNo);
}

Answer AnswerOnTerminal(const std::string& terminalPath, const std::vector<std::string>& question,
                        const AnswerSource& source) {
  constexpr MessageBoxKind kQuestion = MessageBoxKind::kYesNoQuestion;
  if (terminalPath.empty()) return AnswerByLine(source, kQuestion);
  const platform::FileDescriptor terminal = platform::OpenTerminal(terminalPath);
  if (!terminal.valid()) return AnswerByLine(source, kQuestion);
  std::string prompt;
  for (const std::string& line : question) {
    if (!prompt.empty()) prompt += '\n';
    prompt += Sanitize(line);
  }
  platform::DiscardTypeAhead(terminal.get());  // keys typed before the question do not answer it
  platform::WriteAll(terminal.get(), prompt + " ");
  AnswerSource onTerminal = source;
  onTerminal.inputFd = terminal.get();
  return AnswerByLine(onTerminal, kQuestion);
}

}  // namespace repair::terminal

// Answers to the terminal window's message boxes: a key on a raw keyboard, or a line of
// input. A signal that closes the window closes the box too, answered as if closed (No for
// a question, OK otherwise).
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "ui/window_controls.h"

namespace repair::terminal {

struct AnswerSource {
  int inputFd = -1;
  // The window's signal pipe; when it is readable, signalsClose handles what waits there and
  // says whether that closes the window.
  int signalFd = -1;
  std::function<bool()> signalsClose;
};

struct Answer {
  MessageBoxAnswer answer = MessageBoxAnswer::kOk;
  bool closeWindow = false;  // the user closed the box and the window (Ctrl-C, keyboard gone)
  bool keyboardGone = false;
};

// What a box closed without an answer answers.
MessageBoxAnswer ClosedAnswer(MessageBoxKind kind);

// Keys one by one: y or n answer a question, Enter an OK box, other keys are passed over.
// Ctrl-C and the end of input close the box and the window.
Answer AnswerByKey(const AnswerSource& source, MessageBoxKind kind);

// One line answers: a question is Yes only for a line that starts with y or Y; end of input
// before any answers as closed.
Answer AnswerByLine(const AnswerSource& source, MessageBoxKind kind);

// Puts `question` (its lines, sanitized) on the terminal `terminalPath` and reads the answer
// there, keys typed before it dropped: standard output may be a file while the user sits at
// a terminal. Without one that opens, the answer is a line of source.inputFd.
Answer AnswerOnTerminal(const std::string& terminalPath, const std::vector<std::string>& question,
                        const AnswerSource& source);

}  // namespace repair::terminal

#include "ui/window_texts.h"

#include "strings/string_keys.h"

namespace repair {

WindowTexts LookupWindowTexts() {
  WindowTexts texts;
  LookupText(kSysWindowTitle, texts.title);
  texts.columns[0] = "#";
  LookupText(kStrFileName, texts.columns[1]);
  LookupText(kStrFileSize, texts.columns[2]);
  LookupText(kStrProgress, texts.columns[3]);
  LookupText(kStrConfirmStop, texts.confirmStop);
  LookupText(kStrConfirm, texts.confirmCaption);
  return texts;
}

}  // namespace repair

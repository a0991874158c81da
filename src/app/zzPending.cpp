#include "mainUnit.h"
namespace tonvert {
void TmainForm::midiUpload() {}
void TmainForm::audioDownload() {}
} // namespace tonvert

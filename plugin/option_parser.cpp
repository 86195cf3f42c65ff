// The option parser: host parameters in, RunSettings out. It runs at every
// GetLogonParameters and Logon, so a flag set once stays set for the life of
// the process and a value given later replaces an earlier one.
#include <cstring>

#include "platform/bounded_text.h"
#include "plugin/mvcom.h"
#include "plugin/run_settings.h"

RunSettings gRunSettings;

namespace {

enum SwitchKind { kFlag, kNumber, kText, kDataDebug, kFailedIds };

struct Switch {
  const char *name;
  SwitchKind kind;
  int32_t RunSettings::*flag;  // kFlag, kDataDebug, kFailedIds
  int32_t RunSettings::*number;  // kNumber
  char (RunSettings::*text)[kSettingTextSize];  // kText, kDataDebug, kFailedIds
};

// In the order the switches are compared; every switch that matches applies.
const Switch kSwitches[] = {
    {"/HPW", kFlag, &RunSettings::hpw, nullptr, nullptr},
    {"/LOGUUID", kFlag, &RunSettings::logUuid, nullptr, nullptr},
    {"/MAILRULES", kFlag, &RunSettings::mailRules, nullptr, nullptr},
    {"/DEBUG", kFlag, &RunSettings::debug, nullptr, nullptr},
    {"/CURLDEBUG", kFlag, &RunSettings::curlDebug, nullptr, nullptr},
    {"/D331", kFlag, &RunSettings::d331, nullptr, nullptr},
    {"/D114", kFlag, &RunSettings::d114, nullptr, nullptr},
    {"/LSUB", kFlag, &RunSettings::lsub, nullptr, nullptr},
    {"/D179", kFlag, &RunSettings::d179, nullptr, nullptr},
    {"/MAILDEBUG", kFlag, &RunSettings::mailDebug, nullptr, nullptr},
    {"/CALDEBUG", kFlag, &RunSettings::calDebug, nullptr, nullptr},
    {"/CONDEBUG", kFlag, &RunSettings::conDebug, nullptr, nullptr},
    {"/CALTEST", kFlag, &RunSettings::calTest, nullptr, nullptr},
    {"/FAKESERVER", kFlag, &RunSettings::fakeServer, nullptr, nullptr},
    {"/TRUSTED", kFlag, &RunSettings::trusted, nullptr, nullptr},
    {"/D300", kFlag, &RunSettings::d300, nullptr, nullptr},
    {"/D332", kFlag, &RunSettings::d332, nullptr, nullptr},
    {"/DATADEBUG", kDataDebug, &RunSettings::dataDebug, nullptr, &RunSettings::dataDebugName},
    {"/GWAPPKEY", kText, nullptr, nullptr, &RunSettings::gwAppKey},
    {"/D327", kFailedIds, &RunSettings::d327, nullptr, &RunSettings::d327Path},
    {"/D328", kFlag, &RunSettings::d328, nullptr, nullptr},
    {"/MAXATTACHSIZE", kNumber, nullptr, &RunSettings::maxAttachSize, nullptr},
    {"/D70", kNumber, nullptr, &RunSettings::d70, nullptr},
    {"/D340", kNumber, nullptr, &RunSettings::d340, nullptr},
    {"/GN", kText, nullptr, nullptr, &RunSettings::gn},
    {"/GWCF", kText, nullptr, nullptr, &RunSettings::gwcf},
    {"/GWCAF", kText, nullptr, nullptr, &RunSettings::gwcaf},
    {"/GWTF", kText, nullptr, nullptr, &RunSettings::gwtf},
    {"/D159", kText, nullptr, nullptr, &RunSettings::d159},
    {"/LOSTATTACHTEXT", kFlag, &RunSettings::lostAttachText, nullptr, nullptr},
    {"/STALLSECONDS", kNumber, nullptr, &RunSettings::stallSeconds, nullptr},
    {"/MIME822", kFlag, &RunSettings::mime822, nullptr, nullptr},
    {"/TLSVERIFY", kFlag, &RunSettings::tlsVerify, nullptr, nullptr},
    {"/TLSCAFILE", kText, nullptr, nullptr, &RunSettings::tlsCaFile},
};

// The value of a switch at `index`: the next parameter, when it exists and
// is not empty.
bool FetchValue(int index, char *value) {
  return com_GetParm(index + 1, value) != 0 && value[0] != '\0';
}

void ApplySwitch(const Switch &sw, int index) {
  RunSettings &rs = gRunSettings;
  char value[1024];
  switch (sw.kind) {
    case kFlag:
      rs.*sw.flag = 1;
      break;
    case kNumber:
      if (FetchValue(index, value)) rs.*sw.number = ParseLeadingInt(value);
      break;
    case kText:
      if (FetchValue(index, value)) CopyText(rs.*sw.text, kSettingTextSize, value);
      break;
    case kDataDebug:
      rs.*sw.flag = 1;
      rs.mailDebug = rs.calDebug = rs.conDebug = 1;
      if (FetchValue(index, value) && value[0] != '/')
        CopyText(rs.*sw.text, kSettingTextSize, value);
      break;
    case kFailedIds:
      rs.*sw.flag = 1;
      if (FetchValue(index, value)) CopyText(rs.*sw.text, kSettingTextSize, value);
      if ((rs.*sw.text)[0] == '\0')
        rs.*sw.flag = 0;
      else
        com_Log("Failed Ids to be stored in %s", rs.*sw.text);
      break;
  }
}

}  // namespace

void ResetRunSettings() {
  memset(&gRunSettings, 0, sizeof gRunSettings);
  gRunSettings.maxAttachSize = 4294900;
  gRunSettings.stallSeconds = kDefaultStallSeconds;
  CopyText(gRunSettings.gn, sizeof gRunSettings.gn, "root");
}

namespace {
// Load-time defaults.
struct RunSettingsInit {
  RunSettingsInit() { ResetRunSettings(); }
} gRunSettingsInit;
}  // namespace

void ParseOptions() {
  char param[1024];
  for (int index = 0; com_GetParm(index, param) != 0; ++index) {
    for (const Switch &sw : kSwitches) {
      if (strcmp(param, sw.name) == 0) ApplySwitch(sw, index);
    }
  }
}

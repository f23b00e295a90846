// Menu keys: walking the menus, committing selections, power actions, capture start/stop.
#include "app/MenuKeys.h"

#include <cstring>

#include "app/Capture.h"
#include "app/Shell.h"
#include "state/Globals.h"

namespace {

constexpr char SpaceKey = ' ';
constexpr char EnterKey = '\n';
constexpr char UpKey = 'A';
constexpr char DownKey = 'B';
constexpr char RightKey = 'C';
constexpr char LeftKey = 'D';

constexpr const char* ShutdownAction = "SHUTDOWN";
constexpr const char* QuitAction = "OFF";

constexpr int LastMenu = MenuCount - 1;
constexpr int LastItem = MenuEntryCount - 1;

// True when the key text starts with the arrow sequence ESC "O" Letter. The text is
// zero-terminated, so the comparison stops at its end.
bool IsArrow(const char* Keys, char Letter) {
  return Keys[0] == Esc && Keys[1] == 'O' && Keys[2] == Letter;
}

bool IsMenuIndex(int Menu) {
  return Menu >= 0 && Menu <= LastMenu;
}
bool IsEntryIndex(int Entry) {
  return Entry >= 0 && Entry <= LastItem;
}

// Label of entry Entry of menu Menu (entry 0 is the title); null when absent or when the
// indexes lie outside the tables.
const char* MenuLabel(int Menu, int Entry) {
  if (!IsMenuIndex(Menu) || !IsEntryIndex(Entry)) return nullptr;
  return ThisConfig.Menu[Menu][Entry];
}

// Value of entry Entry of menu Menu (entry 0 is the keyword); null as for MenuLabel.
const char* MenuEntryValue(int Menu, int Entry) {
  if (!IsMenuIndex(Menu) || !IsEntryIndex(Entry)) return nullptr;
  return ThisConfig.MenuValue[Menu][Entry];
}

bool IsPowerMenu(int Menu) {
  const char* Keyword = MenuEntryValue(Menu, 0);
  return Keyword != nullptr && std::strcmp(Keyword, "POWER") == 0;
}

// True when item Item of Menu has the value Action.
bool ItemRuns(int Menu, int Item, const char* Action) {
  const char* Value = MenuEntryValue(Menu, Item);
  return Value != nullptr && std::strcmp(Value, Action) == 0;
}

// The first item of power menu Menu whose Enter neither halts nor quits; failing that, the
// first one that does not halt; 0 when every item halts.
int HarmlessItem(int Menu) {
  int NotHalting = 0;
  for (int Item = 1; Item <= LastItem && MenuLabel(Menu, Item) != nullptr; ++Item) {
    if (ItemRuns(Menu, Item, ShutdownAction)) continue;
    if (!ItemRuns(Menu, Item, QuitAction)) return Item;
    if (NotHalting == 0) NotHalting = Item;
  }
  return NotHalting;
}

// Any key but Space only ends the large preview: the key is consumed and the tick's
// watchdog starts the small preview (and requests the redraw) on its next run.
bool EndLargePreview(char* Keys) {
  if (Keys[0] == 0 || Keys[0] == SpaceKey || ThisConfigSave.PreviewSize == 0) return false;
  Keys[0] = 0;
  ThisConfigSave.PreviewSize = 0;
  StopCameraTools();
  return true;
}

// Space stops a capture, or starts one. A capture that cannot succeed is refused before
// anything is stopped, so the preview runs on and its reason stays on the error line.
void PressSpace() {
  if (ThisConfigSave.Mode == ModeRecording) {
    StopCameraTools();
    ThisConfigSave.Mode = ModeIdle;
    Refresh = FlagSet;
    return;
  }
  char Execute[TextSize];
  const CapturePlan Plan = PlanCapture(Execute);
  if (Plan == CapturePlan::Refused) return;
  StopCameraTools();
  RunCapture(Plan, Execute);
}

// Enter commits the shown item. On the power menu the item's value is an action; on any
// other menu (a menu without keyword included) the tools stop so the tick restarts the
// preview with the new selection.
void PressEnter() {
  const int MenuPos = ThisConfigSave.MenuPos;
  if (IsMenuIndex(MenuPos)) ThisConfigSave.MenuSelection[MenuPos] = ThisConfigSave.MenuItemPos;
  if (IsPowerMenu(MenuPos)) {
    RunPowerAction(MenuEntryValue(MenuPos, ThisConfigSave.MenuItemPos));
  } else {
    StopCameraTools();
    ThisConfigSave.Mode = ModeIdle;
  }
  Refresh = FlagSet;
}

void PressRight() {
  const int Next = ThisConfigSave.MenuItemPos + 1;
  if (Next > LastItem || MenuLabel(ThisConfigSave.MenuPos, Next) == nullptr) return;
  ThisConfigSave.MenuItemPos = Next;
  Refresh = FlagSet;
}

void PressLeft() {
  if (ThisConfigSave.MenuItemPos - 1 < 1) return;
  ThisConfigSave.MenuItemPos -= 1;
  Refresh = FlagSet;
}

// Shows menu Menu with its committed item, so an uncommitted item is forgotten.
void ShowMenu(int Menu) {
  ThisConfigSave.MenuPos = Menu;
  ThisConfigSave.MenuItemPos = ThisConfigSave.MenuSelection[Menu];
  Refresh = FlagSet;
}

void PressUp() {
  const int MenuPos = ThisConfigSave.MenuPos;
  if (MenuPos - 1 < 0) return;
  // A position beyond the table (a state file from elsewhere) moves to the last menu.
  ShowMenu(MenuPos - 1 > LastMenu ? LastMenu : MenuPos - 1);
}

void PressDown() {
  const int Next = ThisConfigSave.MenuPos + 1;
  if (Next < 0 || Next > LastMenu || MenuLabel(Next, 0) == nullptr) return;
  ShowMenu(Next);
}

// The number after "SLEEP ", read like atoi but saturated to int; a negative period
// cannot be a sleep time and counts as 0 (never sleep).
int ParseSleepPeriod(const char* Text) {
  if (std::strcmp(Text, "OFF") == 0) return 0;
  const int Number = ParseDecimal(Text);
  return Number < 0 ? 0 : Number;
}

void Quit(const char* /*Rest*/) {
  ExitFlag = FlagSet;
}

// Ends the run like "OFF", with the status that asks the caller to power the system off.
void PowerOffSystem(const char* /*Rest*/) {
  ExitFlag = FlagSet;
  ExitStatus = PowerOffStatus;
}

// The large preview: the tick's watchdog restarts the tools with it.
void HideMenu(const char* /*Rest*/) {
  ThisConfigSave.PreviewSize = 1;
  StopCameraTools();
}

void LedOff(const char* /*Rest*/) {
  ClearOutSwitch(ThisConfig.GPIO_LED);
}

void LedOn(const char* /*Rest*/) {
  SetOutSwitch(ThisConfig.GPIO_LED);
}

void SetSleep(const char* Period) {
  ThisConfigSave.SleepPeriod = ParseSleepPeriod(Period);
  SleepCount = SleepTicksFor(ThisConfigSave.SleepPeriod);
}

// One power action: the item value that names it and what it does. A prefix rule hands on
// the text after the prefix; an exact rule hands on "".
struct PowerRule {
  const char* Action;
  KeyMatch Match;
  void (*Run)(const char* Rest);
};

const PowerRule PowerRules[] = {
    {QuitAction, KeyMatch::Exact, Quit},    {"HIDE MENU", KeyMatch::Exact, HideMenu},
    {"LED OFF", KeyMatch::Exact, LedOff},   {"LED ON", KeyMatch::Exact, LedOn},
    {"SLEEP ", KeyMatch::Prefix, SetSleep}, {ShutdownAction, KeyMatch::Exact, PowerOffSystem},
};

}  // namespace

void HandleMenuKeys(char* Keys) {
  if (Keys == nullptr || EndLargePreview(Keys)) return;
  if (Keys[0] == SpaceKey) {
    PressSpace();
  } else if (Keys[0] == EnterKey) {
    PressEnter();
  } else if (IsArrow(Keys, RightKey)) {
    PressRight();
  } else if (IsArrow(Keys, LeftKey)) {
    PressLeft();
  } else if (IsArrow(Keys, UpKey)) {
    PressUp();
  } else if (IsArrow(Keys, DownKey)) {
    PressDown();
  }
}

void RunPowerAction(const char* Value) {
  if (Value == nullptr) return;  // an item without a value has no action
  for (const PowerRule& Rule : PowerRules) {
    if (MatchesKey(Value, Rule.Action, Rule.Match)) {
      Rule.Run(Value + std::strlen(Rule.Action));
      return;
    }
  }
}

void StepOffShutdownItems() {
  for (int Menu = 0; Menu <= LastMenu && MenuLabel(Menu, 0) != nullptr; ++Menu) {
    if (!IsPowerMenu(Menu)) continue;
    const int Harmless = HarmlessItem(Menu);
    if (Harmless == 0) continue;
    std::int32_t& Selection = ThisConfigSave.MenuSelection[Menu];
    if (ItemRuns(Menu, Selection, ShutdownAction)) Selection = Harmless;
    if (ThisConfigSave.MenuPos == Menu &&
        ItemRuns(Menu, ThisConfigSave.MenuItemPos, ShutdownAction))
      ThisConfigSave.MenuItemPos = Harmless;
  }
}

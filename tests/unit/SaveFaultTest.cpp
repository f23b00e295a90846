// The state file survives a writer killed at any instant: it always holds a whole record,
// also when it is reached through a symbolic link, which stays.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "app/SavedState.h"

namespace {

using testsupport::Bytes;
using testsupport::Encoded;

ConfigSaveStruct Record(std::int32_t Id, std::int32_t Selection) {
  ConfigSaveStruct State{};
  State.ID = Id;
  State.MenuPos = 2;
  State.MenuItemPos = 1;
  for (auto& Entry : State.MenuSelection) Entry = Selection;
  State.SleepPeriod = 1;
  State.Mode = ModePreview;
  return State;
}

Bytes FileBytes(const std::string& Path) {
  std::ifstream In(Path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(In), std::istreambuf_iterator<char>());
}

// Saves A and B in turn until killed; never returns into the test framework.
[[noreturn]] void SaveAlternately(const std::string& Path, const ConfigSaveStruct& A,
                                  const ConfigSaveStruct& B) {
  for (int Round = 0; Round < 100000; ++Round) {
    ThisConfigSave = (Round % 2 == 0) ? B : A;
    SaveConfigBinary(Path.c_str());
  }
  _exit(0);
}

class SaveFaultTest : public testsupport::HarrowlightTest {
 protected:
  void SetUp() override {
    HarrowlightTest::SetUp();
    char Template[] = "/tmp/harrowlight-fault-XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    Directory = Template;
  }
  void TearDown() override {
    std::filesystem::remove_all(Directory);
    HarrowlightTest::TearDown();
  }
  std::string Directory;
};

TEST_F(SaveFaultTest, WriterKilledAtRandomInstantsNeverLeavesATornFile) {
  // The state file itself, and a link to it kept in another folder (which must stay a link).
  struct Case {
    const char* What;
    bool Linked;
    int Attempts;
  };
  const Case Cases[] = {{"plain file", false, 300}, {"through a link", true, 150}};
  const ConfigSaveStruct A = Record(1000, 2);
  const ConfigSaveStruct B = Record(2000, 5);
  const Bytes BytesA = Encoded(A);
  const Bytes BytesB = Encoded(B);
  // A fixed seed: the kill instants vary within a run but the run is reproducible.
  std::mt19937 Generator(20131229);
  std::uniform_int_distribution<int> Microseconds(0, 3000);

  for (const Case& C : Cases) {
    SCOPED_TRACE(C.What);
    const std::string Folder = Directory + (C.Linked ? "/linked" : "/plain");
    std::filesystem::create_directories(Folder + "/data");
    const std::string Path = Folder + "/CONFIG.DAT";
    if (C.Linked) std::filesystem::create_symlink("data/CONFIG.DAT", Path);
    ThisConfigSave = A;
    SaveConfigBinary(Path.c_str());

    int SawB = 0;
    for (int Attempt = 0; Attempt < C.Attempts; ++Attempt) {
      pid_t Child = fork();
      ASSERT_GE(Child, 0);
      if (Child == 0) SaveAlternately(Path, A, B);
      usleep(static_cast<useconds_t>(Microseconds(Generator)));
      kill(Child, SIGKILL);
      int Status = 0;
      ASSERT_EQ(waitpid(Child, &Status, 0), Child);

      Bytes Now = FileBytes(Path);
      ASSERT_EQ(Now.size(), StateFileSize) << "attempt " << Attempt;
      ASSERT_TRUE(Now == BytesA || Now == BytesB) << "attempt " << Attempt;
      ASSERT_EQ(std::filesystem::is_symlink(Path), C.Linked) << "attempt " << Attempt;
      if (Now == BytesB) ++SawB;
    }
    // Not a requirement, only a sign the writer got far enough to replace the file.
    RecordProperty(C.Linked ? "LinkedRecordsReplacedByB" : "RecordsReplacedByB", SawB);

    // Whatever temporary file a kill left behind, the next save still works.
    ThisConfigSave = B;
    world().Output.clear();
    SaveConfigBinary(Path.c_str());
    EXPECT_EQ(world().Output, "");
    EXPECT_EQ(FileBytes(Path), BytesB);
  }
}

}  // namespace

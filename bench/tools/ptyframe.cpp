// Start-up probe: runs a program on a fresh pseudo-terminal that answers a cursor
// position request at once, and reports when the first complete frame arrived and how
// much memory the program's process tree holds at that moment.
//
//   ptyframe ROWS COLS MODE QUIET_MS -- PROGRAM ARGS...
//
// MODE "clear-home": the frame is complete at the first cursor-home sequence after an
// erase-screen sequence (a program that draws each frame in one piece).
// MODE "quiet": the frame is complete at the last byte before QUIET_MS of silence (a
// program whose frame end has no marker).
//
// Prints one line: "startup_ms=... first_byte_ms=... bytes=..." and then one line per
// process of the tree at that moment: "proc PID COMM VmHWM_kB VmRSS_kB". Ends the program
// with SIGTERM (SIGKILL to its process group after a second).
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

double NowMs() {
  timespec Now{};
  clock_gettime(CLOCK_MONOTONIC, &Now);
  return static_cast<double>(Now.tv_sec) * 1000.0 + static_cast<double>(Now.tv_nsec) / 1e6;
}

struct ProcInfo {
  int Parent = 0;
  std::string Comm;
  long HwmKb = 0;
  long RssKb = 0;
};

// Parent, name and memory figures of one process from /proc/PID/status.
bool ReadProc(int Pid, ProcInfo* Info) {
  std::ifstream Status("/proc/" + std::to_string(Pid) + "/status");
  if (!Status) return false;
  std::string Line;
  while (std::getline(Status, Line)) {
    std::istringstream Fields(Line);
    std::string Key;
    Fields >> Key;
    if (Key == "Name:") Fields >> Info->Comm;
    if (Key == "PPid:") Fields >> Info->Parent;
    if (Key == "VmHWM:") Fields >> Info->HwmKb;
    if (Key == "VmRSS:") Fields >> Info->RssKb;
  }
  return true;
}

// Every live process whose chain of parents leads to Root, Root included.
std::vector<std::pair<int, ProcInfo>> ProcessTree(int Root) {
  std::map<int, ProcInfo> All;
  DIR* Proc = opendir("/proc");
  if (Proc == nullptr) return {};
  while (dirent* Entry = readdir(Proc)) {
    int Pid = std::atoi(Entry->d_name);
    ProcInfo Info;
    if (Pid > 0 && ReadProc(Pid, &Info)) All[Pid] = Info;
  }
  closedir(Proc);
  std::vector<std::pair<int, ProcInfo>> Tree;
  for (const auto& [Pid, Info] : All) {
    int Walk = Pid;
    for (int Depth = 0; Walk > 1 && Depth < 64; ++Depth) {
      if (Walk == Root) {
        Tree.emplace_back(Pid, Info);
        break;
      }
      auto Found = All.find(Walk);
      if (Found == All.end()) break;
      Walk = Found->second.Parent;
    }
  }
  return Tree;
}

void WriteAll(int Fd, const std::string& Text) {
  std::size_t Done = 0;
  while (Done < Text.size()) {
    ssize_t Written = write(Fd, Text.data() + Done, Text.size() - Done);
    if (Written <= 0) return;
    Done += static_cast<std::size_t>(Written);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 7 || std::strcmp(argv[5], "--") != 0) {
    std::fprintf(stderr,
                 "usage: ptyframe ROWS COLS clear-home|quiet QUIET_MS -- PROGRAM ARGS...\n");
    return 2;
  }
  const int Rows = std::atoi(argv[1]);
  const int Cols = std::atoi(argv[2]);
  const bool QuietMode = std::strcmp(argv[3], "quiet") == 0;
  const double QuietMs = std::atof(argv[4]);
  const double LimitMs = 15000.0;

  winsize Size{};
  Size.ws_row = static_cast<unsigned short>(Rows);
  Size.ws_col = static_cast<unsigned short>(Cols);
  int Master = -1;
  const double Start = NowMs();
  pid_t Child = forkpty(&Master, nullptr, nullptr, &Size);
  if (Child < 0) {
    std::perror("forkpty");
    return 1;
  }
  if (Child == 0) {
    execvp(argv[6], argv + 6);
    std::perror("exec");
    _exit(127);
  }

  const std::string Request = "\x1b[6n";
  const std::string Reply = "\x1b[" + std::to_string(Rows) + ";" + std::to_string(Cols) + "R";
  std::string Output;
  std::size_t Answered = 0;  // bytes of Output already searched for requests
  double FirstByte = -1;
  double LastByte = -1;
  double Complete = -1;
  char Chunk[65536];
  for (;;) {
    double Now = NowMs();
    if (Now - Start > LimitMs) break;
    int WaitMs = 50;
    if (QuietMode && LastByte >= 0) {
      double Left = LastByte + QuietMs - Now;
      if (Left <= 0) {
        Complete = LastByte;
        break;
      }
      WaitMs = static_cast<int>(Left) + 1;
    }
    pollfd Fd{Master, POLLIN, 0};
    if (poll(&Fd, 1, WaitMs) <= 0) continue;
    ssize_t Got = read(Master, Chunk, sizeof Chunk);
    if (Got <= 0) break;
    Now = NowMs();
    if (FirstByte < 0) FirstByte = Now;
    LastByte = Now;
    Output.append(Chunk, static_cast<std::size_t>(Got));
    for (std::size_t At; (At = Output.find(Request, Answered)) != std::string::npos;) {
      WriteAll(Master, Reply);
      Answered = At + Request.size();
    }
    if (!QuietMode) {
      std::size_t Erase = Output.find("\x1b[2J");
      if (Erase != std::string::npos && Output.find("\x1b[H", Erase) != std::string::npos) {
        Complete = Now;
        break;
      }
    }
  }

  std::vector<std::pair<int, ProcInfo>> Tree = ProcessTree(Child);
  if (Complete < 0) {
    std::printf("startup_ms=NA first_byte_ms=NA bytes=%zu\n", Output.size());
  } else {
    std::printf("startup_ms=%.2f first_byte_ms=%.2f bytes=%zu\n", Complete - Start,
                FirstByte - Start, Output.size());
  }
  for (const auto& [Pid, Info] : Tree) {
    std::printf("proc %d %s %ld %ld\n", Pid, Info.Comm.c_str(), Info.HwmKb, Info.RssKb);
  }
  std::fflush(stdout);

  // End the program; keep draining the terminal so its last writes cannot block.
  kill(Child, SIGTERM);
  const double Stop = NowMs();
  int Status = 0;
  while (waitpid(Child, &Status, WNOHANG) == 0) {
    if (NowMs() - Stop > 1000) {
      kill(-Child, SIGKILL);
      kill(Child, SIGKILL);
    }
    pollfd Fd{Master, POLLIN, 0};
    if (poll(&Fd, 1, 20) > 0 && read(Master, Chunk, sizeof Chunk) <= 0) usleep(20000);
  }
  close(Master);
  return Complete < 0 ? 1 : 0;
}

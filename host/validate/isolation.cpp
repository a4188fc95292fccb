// Forked children for the validator: crash reports, stacks on timeout, symbolization.
#include "host/validate/isolation.h"

#include <dirent.h>
#include <execinfo.h>
#include <poll.h>
#include <signal.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <sstream>
#include <string_view>
#include <vector>

namespace Kavren::Host {
namespace {

constexpr std::size_t kMaxDiagnostics = std::size_t{64} * 1024;
constexpr int kMaxSymbolizedLines = 80;
// Signals a dump of every thread's stack is asked with, and each thread answers.
constexpr int kDumpAllSignal = SIGUSR2;
constexpr int kDumpOneSignal = SIGURG;

std::atomic<int> dumpLock{0};

void WriteText(const char* text) {
  const ssize_t ignored = write(STDERR_FILENO, text, std::strlen(text));
  (void)ignored;
}

void WriteNumber(long number) {
  char digits[24];
  int length = 0;
  if (number == 0) digits[length++] = '0';
  while (number > 0 && length < 23) {
    digits[length++] = static_cast<char>('0' + number % 10);
    number /= 10;
  }
  char text[24];
  for (int index = 0; index < length; ++index) text[index] = digits[length - 1 - index];
  text[length] = '\0';
  WriteText(text);
}

void WriteBacktrace() {
  void* frames[64];
  const int count = backtrace(frames, 64);
  backtrace_symbols_fd(frames, count, STDERR_FILENO);
}

void OnCrash(int signal) {
  WriteText("\n== crash: signal ");
  WriteNumber(signal);
  WriteText(" in thread ");
  WriteNumber(static_cast<long>(syscall(SYS_gettid)));
  WriteText("\n");
  WriteBacktrace();
  ::signal(signal, SIG_DFL);
  raise(signal);
}

void OnDumpOne(int) {
  int expected = 0;
  while (!dumpLock.compare_exchange_weak(expected, 1)) expected = 0;
  WriteText("\n== thread ");
  WriteNumber(static_cast<long>(syscall(SYS_gettid)));
  WriteText("\n");
  WriteBacktrace();
  dumpLock.store(0);
}

void OnDumpAll(int) {
  WriteText("\n== timeout: the stacks of every thread\n");
  DIR* tasks = opendir("/proc/self/task");
  if (tasks == nullptr) return;
  const pid_t pid = getpid();
  while (dirent* entry = readdir(tasks)) {
    const long tid = std::strtol(entry->d_name, nullptr, 10);
    if (tid > 0) syscall(SYS_tgkill, pid, tid, kDumpOneSignal);
  }
  closedir(tasks);
}

void InstallChildHandlers() {
  // The first backtrace loads the unwinder; a handler must not be the first.
  void* frames[2];
  backtrace(frames, 2);
  for (int signal : {SIGSEGV, SIGBUS, SIGILL, SIGFPE, SIGABRT}) {
    struct sigaction action {};
    action.sa_handler = OnCrash;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_ONSTACK;
    sigaction(signal, &action, nullptr);
  }
  struct sigaction dumpAll {};
  dumpAll.sa_handler = OnDumpAll;
  sigemptyset(&dumpAll.sa_mask);
  sigaction(kDumpAllSignal, &dumpAll, nullptr);
  struct sigaction dumpOne {};
  dumpOne.sa_handler = OnDumpOne;
  sigemptyset(&dumpOne.sa_mask);
  dumpOne.sa_flags = SA_RESTART;
  sigaction(kDumpOneSignal, &dumpOne, nullptr);
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t written = 0;
  while (written < text.size()) {
    const ssize_t result = write(fd, text.data() + written, text.size() - written);
    if (result <= 0) return false;
    written += static_cast<std::size_t>(result);
  }
  return true;
}

// The file and offset of a "FILE(+0xOFFSET) [0xADDRESS]" line of backtrace_symbols: the
// frames of libraries and programs without exported symbols.
bool FrameOffset(const std::string& line, std::string& file, std::string& offset) {
  const std::size_t open = line.rfind("(+0x");
  const std::size_t close = open == std::string::npos ? open : line.find(')', open);
  if (open == std::string::npos || close == std::string::npos || open == 0) return false;
  file = line.substr(0, open);
  offset = line.substr(open + 2, close - open - 2);
  return file.find('\'') == std::string::npos &&
         offset.find_first_not_of("0123456789abcdefABCDEFx") == std::string::npos;
}

// Frame lines get addr2line's function, file and line where it finds them.
std::string Symbolize(const std::string& text) {
  std::istringstream lines(text);
  std::string line;
  std::string out;
  int symbolized = 0;
  std::map<std::string, std::string> cache;
  while (std::getline(lines, line)) {
    out += line;
    std::string file;
    std::string offset;
    if (symbolized < kMaxSymbolizedLines && FrameOffset(line, file, offset)) {
      const std::string key = file + " " + offset;
      auto found = cache.find(key);
      if (found == cache.end()) {
        std::string answer;
        const std::string command =
            "addr2line -f -C -p -e '" + file + "' " + offset + " 2>/dev/null";
        if (FILE* pipe = popen(command.c_str(), "r")) {
          char buffer[512];
          while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) answer += buffer;
          pclose(pipe);
        }
        while (!answer.empty() && answer.back() == '\n') answer.pop_back();
        found = cache.emplace(key, answer).first;
      }
      if (!found->second.empty() && found->second.rfind("??", 0) != 0) {
        out += "  -> " + found->second;
      }
      ++symbolized;
    }
    out += "\n";
  }
  return out;
}

}  // namespace

std::string SignalName(int signal) {
  switch (signal) {
    case SIGSEGV:
      return "SIGSEGV";
    case SIGBUS:
      return "SIGBUS";
    case SIGILL:
      return "SIGILL";
    case SIGFPE:
      return "SIGFPE";
    case SIGABRT:
      return "SIGABRT";
    case SIGKILL:
      return "SIGKILL";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "signal " + std::to_string(signal);
  }
}

namespace {

// What a child wrote on its two pipes.
struct ChildOutput {
  std::string result;
  std::string diagnostics;
};

// Reads the child's answer and its output until both pipes close (the output keeps its
// last kMaxDiagnostics bytes or so). Once `deadline` passes, asks the child for every
// thread's stack, sets `outcome.timedOut` and kills the child 1.5 s later.
ChildOutput CollectChild(pid_t child, int resultFd, int errorFd,
                         std::chrono::steady_clock::time_point deadline, IsolatedOutcome& outcome) {
  ChildOutput output;
  bool resultOpen = true;
  bool errorOpen = true;
  std::chrono::steady_clock::time_point killAt{};
  while (resultOpen || errorOpen) {
    const auto now = std::chrono::steady_clock::now();
    if (!outcome.timedOut && now >= deadline) {
      outcome.timedOut = true;
      kill(child, kDumpAllSignal);
      killAt = now + std::chrono::milliseconds(1500);
    }
    if (outcome.timedOut && now >= killAt) {
      kill(child, SIGKILL);
      break;
    }
    std::array<pollfd, 2> fds{};
    nfds_t count = 0;
    if (resultOpen) fds[count++] = pollfd{resultFd, POLLIN, 0};
    if (errorOpen) fds[count++] = pollfd{errorFd, POLLIN, 0};
    if (poll(fds.data(), count, 100) <= 0) continue;
    for (nfds_t index = 0; index < count; ++index) {
      if (fds[index].revents == 0) continue;
      char buffer[4096];
      const ssize_t read = ::read(fds[index].fd, buffer, sizeof buffer);
      const bool isResult = fds[index].fd == resultFd;
      if (read <= 0) {
        (isResult ? resultOpen : errorOpen) = false;
      } else if (isResult) {
        output.result.append(buffer, static_cast<std::size_t>(read));
      } else {
        output.diagnostics.append(buffer, static_cast<std::size_t>(read));
        if (output.diagnostics.size() > 2 * kMaxDiagnostics) {
          output.diagnostics.erase(0, output.diagnostics.size() - kMaxDiagnostics);
        }
      }
    }
  }
  return output;
}

// Forks a child that runs `inChild` with its answer descriptor and its standard output and
// error on pipes, and collects both until it ends or its budget is spent.
IsolatedOutcome RunChild(const std::function<void(int answer)>& inChild, double budgetSeconds) {
  IsolatedOutcome outcome;
  const auto started = std::chrono::steady_clock::now();
  int resultPipe[2];
  int errorPipe[2];
  if (pipe(resultPipe) != 0) return outcome;
  if (pipe(errorPipe) != 0) {
    close(resultPipe[0]);
    close(resultPipe[1]);
    return outcome;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  const pid_t child = fork();
  if (child == 0) {
    close(resultPipe[0]);
    close(errorPipe[0]);
    dup2(errorPipe[1], STDERR_FILENO);
    dup2(errorPipe[1], STDOUT_FILENO);
    close(errorPipe[1]);
    inChild(resultPipe[1]);
    _exit(72);
  }
  close(resultPipe[1]);
  close(errorPipe[1]);
  if (child < 0) {
    close(resultPipe[0]);
    close(errorPipe[0]);
    outcome.diagnostics = "fork failed";
    return outcome;
  }
  const auto deadline =
      started + std::chrono::milliseconds(static_cast<long long>(budgetSeconds * 1000));
  ChildOutput output = CollectChild(child, resultPipe[0], errorPipe[0], deadline, outcome);
  std::string& diagnostics = output.diagnostics;
  close(resultPipe[0]);
  close(errorPipe[0]);
  int status = 0;
  waitpid(child, &status, 0);
  outcome.seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (WIFSIGNALED(status)) outcome.signal = WTERMSIG(status);
  if (WIFEXITED(status)) outcome.exitCode = WEXITSTATUS(status);
  outcome.finished = !outcome.timedOut && WIFEXITED(status) && outcome.exitCode == 0;
  if (outcome.finished) outcome.result = output.result;
  if (diagnostics.size() > kMaxDiagnostics) {
    diagnostics.erase(0, diagnostics.size() - kMaxDiagnostics);
  }
  outcome.diagnostics = outcome.finished ? diagnostics : Symbolize(diagnostics);
  return outcome;
}

}  // namespace

void AnswerIsolated(const std::function<std::string()>& body, int descriptor) {
  InstallChildHandlers();
  std::string result;
  try {
    result = body();
  } catch (const std::exception& error) {
    WriteText("validator: ");
    WriteText(error.what());
    WriteText("\n");
    _exit(70);
  }
  const bool written = WriteAll(descriptor, result);
  close(descriptor);
  _exit(written ? 0 : 71);
}

IsolatedOutcome RunIsolated(const std::function<std::string()>& body, double budgetSeconds) {
  return RunChild([&](int answer) { AnswerIsolated(body, answer); }, budgetSeconds);
}

std::string ProgramPath() {
  char path[4096];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path);
  return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : std::string();
}

namespace {

// The vectors execve takes, made before a fork (the child only reads them).
class ProgramImage {
 public:
  ProgramImage(const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment)
      : arguments_(arguments), environment_(environment) {
    for (char** entry = environ; *entry != nullptr; ++entry) {
      const std::string_view text(*entry);
      const std::string name(text.substr(0, text.find('=') + 1));
      bool replaced = false;
      for (const std::string& added : environment) replaced = replaced || added.starts_with(name);
      if (!replaced) environment_.emplace_back(text);
    }
    for (std::string& argument : arguments_) argv_.push_back(argument.data());
    argv_.push_back(nullptr);
    for (std::string& entry : environment_) envp_.push_back(entry.data());
    envp_.push_back(nullptr);
  }

  void Execute() const {
    if (argv_.size() < 2) return;
    execve(argv_[0], argv_.data(), envp_.data());
  }

 private:
  std::vector<std::string> arguments_;
  std::vector<std::string> environment_;
  std::vector<char*> argv_;
  std::vector<char*> envp_;
};

}  // namespace

void ExecuteProgram(const std::vector<std::string>& arguments,
                    const std::vector<std::string>& environment) {
  ProgramImage(arguments, environment).Execute();
}

IsolatedOutcome RunIsolatedProgram(const std::vector<std::string>& arguments,
                                   const std::vector<std::string>& environment,
                                   double budgetSeconds) {
  const ProgramImage image(arguments, environment);
  return RunChild(
      [&](int answer) {
        if (answer != kAnswerDescriptor) {
          dup2(answer, kAnswerDescriptor);
          close(answer);
        }
        image.Execute();
        WriteText("validator: cannot execute the child program\n");
        _exit(73);
      },
      budgetSeconds);
}

}  // namespace Kavren::Host

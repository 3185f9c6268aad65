#include "cli/parallel_passes.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace kx8::cli {
namespace fs = std::filesystem;

namespace {

// The descriptor under which a pass finds the run's lock on the root folder.
constexpr int kPassLockFd = 3;
constexpr auto kPollInterval = std::chrono::milliseconds(50);

std::string WholeFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// How a pass's process ended, for the error of a pass without a record.
std::string HowItEnded(int status) {
  if (WIFSIGNALED(status)) return "its process was ended by signal " + std::to_string(WTERMSIG(status));
  return "its process ended with exit status " + std::to_string(WEXITSTATUS(status));
}

// A private folder for the passes' output and reports, removed with
// everything in it when the run's passes are over.
class OutputFolder {
 public:
  OutputFolder() {
    std::string pattern = (fs::temp_directory_path() / "kx8-jobs-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
      throw std::runtime_error("Cannot make a folder for the output of the company passes in " +
                               fs::temp_directory_path().string() + ": " + std::strerror(errno));
    }
    path_ = pattern;
  }
  OutputFolder(const OutputFolder&) = delete;
  OutputFolder& operator=(const OutputFolder&) = delete;
  ~OutputFolder() {
    // Reached by an exception, which is what gets reported; what could be
    // left behind is only output of the passes.
    std::error_code ec;
    if (!path_.empty()) fs::remove_all(path_, ec);
  }
  const fs::path& Path() const { return path_; }
  // Removes the folder; the reason when it could not be removed.
  std::string Remove() {
    std::error_code ec;
    fs::remove_all(path_, ec);
    if (!ec) path_.clear();
    return ec ? ec.message() : std::string();
  }

 private:
  fs::path path_;
};

}  // namespace

struct ParallelPasses::Pass {
  std::string code;
  fs::path out, err, report;
  pid_t pid = -1;
  bool running = false, ended = false;
  std::optional<console::CompanyResult> result;
  Json part;                // the pass's run report
  std::string error;        // shown after its output when the pass left no record
};

std::vector<std::string> PassArguments(const CommandLine& command_line) {
  std::vector<std::string> args = {"--batch"};
  if (command_line.root) args.insert(args.end(), {"--root", *command_line.root});
  for (const auto& [name, checked] : command_line.set) args.insert(args.end(), {"--set", name + (checked ? "=1" : "=0")});
  if (command_line.flow_table) args.insert(args.end(), {"--flow-table", *command_line.flow_table});
  if (command_line.yes) args.push_back("--yes");
  if (command_line.keep_going) args.push_back("--keep-going");
  if (command_line.quiet) args.push_back("--quiet");
  return args;
}

ParallelPasses::ParallelPasses(std::string program, std::vector<std::string> arguments, int jobs, bool keep_going,
                               std::ostream& out, std::ostream& err, ProgressLine& progress, platform::UiServices& ui)
    : program_(std::move(program)),
      arguments_(std::move(arguments)),
      jobs_(jobs < 1 ? 1 : jobs),
      keep_going_(keep_going),
      out_(out),
      err_(err),
      progress_(progress),
      ui_(ui) {}

void ParallelPasses::Start(Pass& pass, const std::string& folder, int lock_fd) {
  std::vector<std::string> args = {program_};
  args.insert(args.end(), arguments_.begin(), arguments_.end());
  args.insert(args.end(), {"--report", pass.report.string(), "--pass-of-run", pass.code, "--run-lock-fd",
                           std::to_string(kPassLockFd)});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  int rc = ::posix_spawn_file_actions_init(&actions);
  if (rc == 0) rc = ::posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (rc == 0) rc = ::posix_spawn_file_actions_addopen(&actions, 1, pass.out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (rc == 0) rc = ::posix_spawn_file_actions_addopen(&actions, 2, pass.err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (rc == 0) rc = ::posix_spawn_file_actions_adddup2(&actions, lock_fd, kPassLockFd);
  // Tables this process has open stay its own.
  if (rc == 0) rc = ::posix_spawn_file_actions_addclosefrom_np(&actions, kPassLockFd + 1);
  if (rc == 0) rc = ::posix_spawn(&pass.pid, program_.c_str(), &actions, nullptr, argv.data(), environ);
  ::posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    // Nothing of the company was touched; it counts as a pass that failed.
    pass.ended = true;
    pass.error = "The pass of company " + pass.code + " could not be started (" + program_ + ", in " + folder +
                 "): " + std::strerror(rc);
    Collect(pass);
    return;
  }
  pass.running = true;
}

// The result of a pass that ended: from its report, or, when it left no
// record of the company, a failed pass with the reason.
void ParallelPasses::Collect(Pass& pass) {
  if (pass.error.empty()) {
    try {
      Json report = ReadReport(pass.report.string());
      for (const Json& company : report["companies"]) {
        if (company["code"] == pass.code && company["outcome"] != "not-reached") {
          pass.result = CompanyResultFromJson(company);
          pass.part = std::move(report);
          return;
        }
      }
    } catch (const std::exception&) {
      // A pass that died before writing its report; its output, printed
      // with it, and the error below say what happened.
    }
  }
  console::CompanyResult result;
  result.code = pass.code;
  result.outcome = keep_going_ ? console::CompanyOutcome::Failed : console::CompanyOutcome::Stopped;
  result.record.started = result.record.ended = console::WallClock::now();
  if (pass.error.empty()) pass.error = "The pass of company " + pass.code + " ended without a record of it";
  result.record.error = pass.error;
  result.messages = 1;
  ReportHeader header;
  header.started = result.record.started;
  header.ended = result.record.ended;
  header.run = "failed";
  pass.part = ReportJson(header, {CompanyJson(result)});
  pass.result = std::move(result);
}

void ParallelPasses::Print(Pass& pass) {
  progress_.Clear();
  out_ << WholeFile(pass.out) << std::flush;
  err_ << WholeFile(pass.err) << std::flush;
  if (pass.result && !pass.error.empty()) ui_.ShowErrorReport(pass.error);
  parts_.push_back(pass.part);
  if (OnPassPrinted) OnPassPrinted();
}

// "[d/n] running  CODE CODE  m:ss": d of the n companies finished (their
// output may wait for an earlier company's), and the passes running.
void ParallelPasses::ShowRunning(const std::vector<Pass>& passes) {
  console::RunProgress place;
  place.what = console::RunProgress::What::Step;
  place.companies = passes.size();
  place.code = "running";
  for (const Pass& pass : passes) {
    if (pass.ended) ++place.company;
    if (pass.running) place.detail += (place.detail.empty() ? "" : " ") + pass.code;
  }
  progress_.Update(place);
}

std::vector<console::CompanyResult> ParallelPasses::RunPasses(const std::vector<std::string>& codes,
                                                              int root_lock_fd) {
  std::vector<Pass> passes(codes.size());
  OutputFolder folder;
  for (std::size_t i = 0; i < codes.size(); ++i) {
    passes[i].code = codes[i];
    const std::string name = std::to_string(i + 1);
    passes[i].out = folder.Path() / (name + ".out");
    passes[i].err = folder.Path() / (name + ".err");
    passes[i].report = folder.Path() / (name + ".json");
  }
  // Passes that are running when this returns by an exception are waited
  // for: they work on their companies and must end before the run does.
  struct WaitForRunning {
    std::vector<Pass>& passes;
    ~WaitForRunning() {
      for (Pass& pass : passes) {
        int status = 0;
        if (pass.running) ::waitpid(pass.pid, &status, 0);
      }
    }
  } wait_for_running{passes};

  std::size_t started = 0, printed = 0;
  int running = 0;
  bool stopped = false;
  while (true) {
    bool changed = false;
    while (!stopped && running < jobs_ && started < passes.size()) {
      Pass& pass = passes[started++];
      Start(pass, folder.Path().string(), root_lock_fd);
      if (pass.running) ++running;
      changed = true;
      if (pass.ended && pass.result->outcome == console::CompanyOutcome::Stopped) stopped = true;
    }
    for (std::size_t i = printed; i < started; ++i) {
      Pass& pass = passes[i];
      if (!pass.running) continue;
      int status = 0;
      const pid_t done = ::waitpid(pass.pid, &status, WNOHANG);
      if (done == 0) continue;
      if (done < 0 && errno == EINTR) continue;
      pass.running = false;
      pass.ended = true;
      --running;
      changed = true;
      if (done < 0) {
        pass.error = "The pass of company " + pass.code + " cannot be followed: " + std::strerror(errno);
      } else if (!WIFEXITED(status) || (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 1)) {
        pass.error = "The pass of company " + pass.code + " ended without a record of it: " + HowItEnded(status);
      }
      Collect(pass);
      // No new pass starts after one that an error stopped, as no
      // further company is reached when a pass ends the run.
      if (pass.result->outcome == console::CompanyOutcome::Stopped) stopped = true;
    }
    while (printed < started && passes[printed].ended) Print(passes[printed++]);
    if (running == 0 && (stopped || started == passes.size())) break;
    ShowRunning(passes);
    if (!changed) std::this_thread::sleep_for(kPollInterval);
  }
  progress_.Clear();
  const fs::path where = folder.Path();
  if (std::string failure = folder.Remove(); !failure.empty()) {
    err_ << "kx8-upgrade: the folder " << where.string() << " of the passes' output could not be removed: " << failure
         << '\n';
  }

  std::vector<console::CompanyResult> results;
  for (std::size_t i = 0; i < started; ++i) results.push_back(std::move(*passes[i].result));
  return results;
}

}  // namespace kx8::cli

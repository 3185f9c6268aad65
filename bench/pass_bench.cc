// Benchmark of a whole company pass: the batch front end upgrades one demo
// company (the free-table company at release 8.50, ACME, or the
// dictionary-bound one at 8.65, ORCHID) built by the demo data builder at
// its default size and at ten times that size, and then runs a second pass
// on the upgraded company, which finds nothing left to change.
//
// Each case reports, besides the wall time of the pass:
//   restructure_s   time spent restructuring tables (ALTER TABLE)
//   rewrite_s       time spent in the other whole-table rewrites (pack,
//                   encryption, decryption)
//   rest_s          everything else: opening and closing tables, reading
//                   structures, dictionary changes, rights, conversions
//   ms_per_entry    pass time divided by the catalogue's column entries
//   peak_rss_MB     the process's peak resident memory during the pass
//   messages        lines of message boxes the pass showed (0 on the demo data)
//
// BM_PeriodOrganisationUpdate times the period organisation update (option
// CheckBoxHTRX) alone on a company at the release (MERLION, free tables) and
// on the dictionary-bound one (ORCHID), with ten and a hundred times the
// demo's payroll history, first on the demo rows and then again on rows it
// has updated already:
//   rows            payroll history rows visited (period 200701 and later)
//   rows_per_s      rows visited per second, first run
//   again_rows_per_s  the same for the second run, which writes nothing
// A rate that stays level from ten to a hundred times the history shows the
// update to be linear in the payroll rows.
//
// The employee record pass alone (BM_EmployeePass) runs with every option
// of the pass ticked on the ACME company after its first pass, at ten and a
// hundred times the default size, and reports:
//   employees       the company's employees
//   ms_per_employee pass time divided by the employees (flat when linear)
//
// BM_PassAndMandatoryWork sets a first pass (backup on, as by default)
// beside the work any pass must do on the same company folder: zipping it
// as the backup does (the program's zip component, masks and compression
// level, with its check) and copying it once with the copy flushed. On ACME
// and ORCHID at the demo's size and at 1,000 employees with ten years of
// payroll history, it reports:
//   pass_s, mandatory_s, ratio   the two times and pass_s / mandatory_s
//   rewrites        whole-table rewrites of the first pass
//   changed_tables  tables (.KDT files) whose bytes the first pass changed
//   syncs, dir_scans, opens, renames, getpids
//                   system calls of the whole process during the first pass
//                   (fsync, fdatasync and syncfs; opendir; open and openat)
//   second_pass_s   the pass run again, which finds nothing to change
//   peak_rss_MB     peak resident memory of the first pass
//
// Settings: --employees=N or KX8_BENCH_EMPLOYEES sets the default size
// (employees per company, default the demo builder's); --rewrite-each-change
// has the pass rewrite a table at every change instead of once for all of
// them, to compare the two. Every other argument
// goes to the benchmark library. The demo roots live in a temporary folder
// under /tmp that is removed at exit.

#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <functional>
#include <map>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "bench_support.h"
#include "console/housekeeping.h"
#include "console/run_driver.h"
#include "platform/zip_archive.h"
#include "syscall_counts.h"
#include "cli/batch_run.h"
#include "conversions/career_records.h"
#include "conversions/employee_pass.h"
#include "dbaccess/db_connection.h"
#include "dbaccess/db_dictionary.h"
#include "dbaccess/db_query.h"
#include "dbaccess/db_table.h"
#include "platform/scripted_ui.h"
#include "platform/ui_services.h"
#include "schema/catalogue.h"
#include "support/credentials.h"
#include "storage/rewrite_totals.h"
#include "tools/demo_builder.h"

// The demo roots go into the temporary folder; no engine tables of its own.
const kx8::bench::Program kx8::bench::kProgram = {"pass_bench", "/tmp/kx8-pass-bench-XXXXXX", nullptr, nullptr};

namespace {

using kx8::bench::Die;
using kx8::bench::Ws;

uint32_t base_employees = static_cast<uint32_t>(kx8::tools::DemoOptions{}.employees);

// The peak resident memory is reset before each pass, so that each case
// reports its own peak (Linux: "5" written to clear_refs).
void ResetPeakMemory() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

double PeakMemoryMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("VmHWM:", 0) == 0) return std::atof(line.c_str() + 6) / 1024.0;
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) / 1024.0;
}

// A fresh demo root holding only the given company.
std::string MakeRoot(const std::string& company, int employees) {
  static int serial = 0;
  const std::string root = Ws().root + "/root" + std::to_string(++serial);
  kx8::tools::DemoOptions options;
  options.employees = employees;
  options.companies = {company};
  try {
    kx8::tools::BuildDemoRoot(root, options);
  } catch (const std::exception& e) {
    Die("the demo root could not be built: " + std::string(e.what()));
  }
  return root + "/";
}

struct PassFigures {
  double seconds = 0, restructure = 0, rewrite = 0, peak_mb = 0;
  int messages = 0;
  std::uint64_t rewrites = 0;
  kx8::bench::SyscallCounts calls;
};

PassFigures RunPass(const std::string& root, const std::string& company) {
  std::ostringstream out, err;
  std::istringstream in;
  ResetPeakMemory();
  const dbe::RewriteTotals before = dbe::CurrentRewriteTotals();
  const kx8::bench::SyscallCounts calls_before = kx8::bench::CurrentSyscallCounts();
  const auto start = std::chrono::steady_clock::now();
  const int rc = kx8::cli::BatchMain({"--batch", "--root", root, "--select", company, "--yes"}, out, err, in, false);
  const auto end = std::chrono::steady_clock::now();
  const kx8::bench::SyscallCounts calls_after = kx8::bench::CurrentSyscallCounts();
  const dbe::RewriteTotals after = dbe::CurrentRewriteTotals();
  if (rc != 0) Die("the pass on " + company + " ended with " + std::to_string(rc) + ": " + err.str());
  PassFigures f;
  f.seconds = std::chrono::duration<double>(end - start).count();
  f.restructure = static_cast<double>(after.restructure_nanoseconds - before.restructure_nanoseconds) / 1e9;
  f.rewrite = static_cast<double>(after.other_nanoseconds - before.other_nanoseconds) / 1e9;
  f.peak_mb = PeakMemoryMegabytes();
  f.rewrites = (after.restructures - before.restructures) + (after.other_rewrites - before.other_rewrites);
  f.calls = calls_after - calls_before;
  std::istringstream lines(out.str());
  for (std::string line; std::getline(lines, line);) {
    // Everything but the status lines and the confirmation is a message.
    bool status = false;
    for (const char* prefix : {"Edit1: ", "Edit2: ", "edtdatabase: ", "Do you wish"}) {
      status = status || line.rfind(prefix, 0) == 0;
    }
    if (!status && !line.empty()) ++f.messages;
  }
  return f;
}

void Report(benchmark::State& state, const PassFigures& f) {
  state.SetIterationTime(f.seconds);
  const double entries = static_cast<double>(kx8::schema::IssuedColumns().size());
  state.counters["restructure_s"] = f.restructure;
  state.counters["rewrite_s"] = f.rewrite;
  state.counters["rest_s"] = f.seconds - f.restructure - f.rewrite;
  state.counters["ms_per_entry"] = f.seconds * 1000.0 / entries;
  state.counters["peak_rss_MB"] = f.peak_mb;
  state.counters["messages"] = f.messages;
}

const char* CompanyOf(const benchmark::State& state) { return state.range(0) == 0 ? "ACME" : "ORCHID"; }

// range(0): 0 ACME, 1 ORCHID; range(1): the size factor.
void BM_FirstPass(benchmark::State& state) {
  const std::string company = CompanyOf(state);
  const int employees = static_cast<int>(base_employees) * static_cast<int>(state.range(1));
  for (auto _ : state) {
    const std::string root = MakeRoot(company, employees);
    Report(state, RunPass(root, company));
  }
  state.SetLabel(company + " x" + std::to_string(state.range(1)) + " (" + std::to_string(employees) + " employees)");
}

void BM_SecondPass(benchmark::State& state) {
  const std::string company = CompanyOf(state);
  const int employees = static_cast<int>(base_employees) * static_cast<int>(state.range(1));
  for (auto _ : state) {
    const std::string root = MakeRoot(company, employees);
    RunPass(root, company);
    Report(state, RunPass(root, company));
  }
  state.SetLabel(company + " x" + std::to_string(state.range(1)) + " (" + std::to_string(employees) + " employees)");
}

// A fingerprint of every table data file of a folder, by upper-cased name.
std::map<std::string, std::size_t> TableFingerprints(const std::string& folder) {
  std::map<std::string, std::size_t> out;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    std::string name = entry.path().filename().string();
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!entry.is_regular_file() || name.size() < 5 || name.substr(name.size() - 4) != ".KDT") continue;
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    out[name] = std::hash<std::string>{}(bytes.str());
  }
  return out;
}

std::size_t ChangedTables(const std::map<std::string, std::size_t>& before,
                          const std::map<std::string, std::size_t>& after) {
  std::size_t changed = 0;
  for (const auto& [name, print] : after) {
    auto it = before.find(name);
    if (it == before.end() || it->second != print) ++changed;
  }
  return changed;
}

// What any pass must do on the company folder: the backup's zip, and one
// copy of the folder, flushed.
double MandatoryWork(const std::string& root, const std::string& company) {
  const std::string folder = root + "COMPANY/" + company;
  const std::string copy = root + "mandatory-copy";
  const auto start = std::chrono::steady_clock::now();
  kx8::platform::TZipArchive zip;
  zip.SetFilesToProcess("");
  for (const std::string& mask : kx8::console::CompanyBackupMasks()) zip.AddMask(root + "COMPANY\\" + company + "\\" + mask);
  zip.SetZipFilename(root + "mandatory.zip");
  if (zip.Compress() != kx8::platform::TZipResult::Ok) Die("the folder of " + company + " could not be zipped: " + zip.LastError());
  std::filesystem::create_directories(copy);
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (!entry.is_regular_file()) continue;
    const std::string target = copy + "/" + entry.path().filename().string();
    std::filesystem::copy_file(entry.path(), target, std::filesystem::copy_options::overwrite_existing);
    const int fd = ::open(target.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) Die("the copy " + target + " could not be flushed");
    ::close(fd);
  }
  const int dir = ::open(copy.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0 || ::fsync(dir) != 0) Die("the folder " + copy + " could not be flushed");
  ::close(dir);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::filesystem::remove_all(copy);
  std::filesystem::remove(root + "mandatory.zip");
  return seconds;
}

// range(0): 0 ACME, 1 ORCHID; range(1): 0 the demo's size, 1 1,000
// employees with ten years of payroll history.
void BM_PassAndMandatoryWork(benchmark::State& state) {
  const std::string company = CompanyOf(state);
  const bool large = state.range(1) != 0;
  for (auto _ : state) {
    kx8::tools::DemoOptions options;
    if (large) {
      options.employees = 1000;
      options.years = 10;
    }
    static int serial = 0;
    const std::string base = Ws().root + "/mandatory" + std::to_string(++serial);
    options.companies = {company};
    try {
      kx8::tools::BuildDemoRoot(base, options);
    } catch (const std::exception& e) {
      Die("the demo root could not be built: " + std::string(e.what()));
    }
    const std::string root = base + "/";
    const std::string folder = root + "COMPANY/" + company;
    const double mandatory = MandatoryWork(root, company);
    const auto before = TableFingerprints(folder);
    const PassFigures first = RunPass(root, company);
    const std::size_t changed = ChangedTables(before, TableFingerprints(folder));
    const PassFigures second = RunPass(root, company);
    state.SetIterationTime(first.seconds);
    state.counters["pass_s"] = first.seconds;
    state.counters["mandatory_s"] = mandatory;
    state.counters["ratio"] = first.seconds / mandatory;
    state.counters["rewrites"] = static_cast<double>(first.rewrites);
    state.counters["changed_tables"] = static_cast<double>(changed);
    state.counters["syncs"] = static_cast<double>(first.calls.syncs);
    state.counters["dir_scans"] = static_cast<double>(first.calls.dir_scans);
    state.counters["opens"] = static_cast<double>(first.calls.opens);
    state.counters["renames"] = static_cast<double>(first.calls.renames);
    state.counters["getpids"] = static_cast<double>(first.calls.getpids);
    state.counters["second_pass_s"] = second.seconds;
    state.counters["peak_rss_MB"] = std::max(first.peak_mb, second.peak_mb);
    std::filesystem::remove_all(base);
  }
  state.SetLabel(company + (large ? " 1000 employees x 10 years" : " x1"));
}

// The employee record pass on an upgraded company, through the components
// the run gives it, with every option of the pass ticked; "c:\temp\" is a
// folder of the benchmark's own.
double TimeEmployeePass(const std::string& root) {
  const std::string drive_c = root + "drive_c";
  std::filesystem::create_directories(drive_c + "/temp");
  ::setenv("KX8_DRIVE_C", drive_c.c_str(), 1);
  kx8::dbaccess::TDbConnection register_connection, company;
  register_connection.SetConnectPath(root);
  kx8::dbaccess::TDbTable company_register, work;
  company_register.SetDbConnection(&register_connection);
  company_register.SetTableName("mcompany.KDT");
  company_register.SetIndexFieldNames("COMPANY_CODE");
  company_register.Open();
  company.SetUsername(kx8::support::AdministratorUser());
  company.SetPassword(kx8::support::AdministratorPassword());
  company.SetLoginPrompt(false);
  company.SetConnectPath(root + "COMPANY\\ACME");
  company.SetIsConnected(true);
  kx8::dbaccess::TDbDictionary dictionary;
  work.SetDbConnection(&company);
  kx8::dbaccess::TDbQuery query;
  query.SetDbConnection(&company);
  kx8::platform::ScriptedUi ui;
  std::string edit1;
  kx8::schema::UpgradeContext ctx{company, dictionary, work, query, company_register, ui, root,
                                  [&](const std::string& t) { edit1 = t; }, [&] { return edit1; }};
  kx8::conversions::EmployeePassOptions all{true, true, true, true, true, true, true, true};
  const auto start = std::chrono::steady_clock::now();
  try {
    kx8::conversions::RunEmployeePass(ctx, all);
  } catch (const std::exception& e) {
    Die("the employee pass failed: " + std::string(e.what()));
  }
  const auto end = std::chrono::steady_clock::now();
  ::unsetenv("KX8_DRIVE_C");
  return std::chrono::duration<double>(end - start).count();
}

// range(0): the size factor.
void BM_EmployeePass(benchmark::State& state) {
  const int employees = static_cast<int>(base_employees) * static_cast<int>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    const std::string root = MakeRoot("ACME", employees);
    RunPass(root, "ACME");
    state.ResumeTiming();
    const double seconds = TimeEmployeePass(root);
    state.SetIterationTime(seconds);
    state.counters["employees"] = employees;
    state.counters["ms_per_employee"] = seconds * 1000.0 / employees;
  }
  state.SetLabel("ACME x" + std::to_string(state.range(0)) + " (" + std::to_string(employees) + " employees)");
}

void Sizes(benchmark::internal::Benchmark* b) {
  for (int company : {0, 1}) {
    for (int factor : {1, 10}) b->Args({company, factor});
  }
}

// A window that shows nothing and answers nothing: the update only pumps.
class QuietUi : public kx8::platform::UiServices {
 public:
  bool Confirm(const std::string&) override { return true; }
  void MessageBox(const std::string&, const std::string&) override {}
  void ShowErrorReport(const std::string&) override {}
  void ProcessMessages() override {}
  void SetWindowCursor(kx8::platform::Cursor) override {}
  void SetScreenCursor(kx8::platform::Cursor) override {}
};

// Runs the update once on a company connected as the run connects it;
// returns the rows visited and the seconds taken.
std::pair<int, double> UpdatePeriods(const std::string& root, const std::string& company) {
  using namespace kx8::dbaccess;
  const std::string folder = root + "COMPANY\\" + company;
  const bool dictionary = company == "ORCHID";
  TDbConnection c;
  c.SetUsername(kx8::support::AdministratorUser());
  c.SetPassword(kx8::support::AdministratorPassword());
  c.SetLoginPrompt(false);
  c.SetConnectPath(dictionary ? folder + "\\" + company + ".kdd" : folder);
  c.SetTag(dictionary ? 99 : 0);
  c.SetIsConnected(true);
  TDbDictionary d;
  TDbTable work, company_register;
  TDbQuery query;
  QuietUi ui;
  int rows = 0;
  kx8::schema::UpgradeContext ctx{c, d, work, query, company_register, ui, root,
                                  [&rows](const std::string&) { ++rows; }, [] { return std::string(); }};
  const auto start = std::chrono::steady_clock::now();
  try {
    kx8::conversions::UpdatePeriodOrganisation(ctx);
  } catch (const std::exception& e) {
    Die("the period organisation update on " + company + " failed: " + e.what());
  }
  return {rows, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count()};
}

// range(0): 0 MERLION, 1 ORCHID; range(1): the size factor of the payroll history.
void BM_PeriodOrganisationUpdate(benchmark::State& state) {
  const std::string company = state.range(0) == 0 ? "MERLION" : "ORCHID";
  const int employees = static_cast<int>(base_employees) * static_cast<int>(state.range(1));
  for (auto _ : state) {
    const std::string root = MakeRoot(company, employees);
    const auto [rows, seconds] = UpdatePeriods(root, company);
    const auto [again_rows, again_seconds] = UpdatePeriods(root, company);
    state.SetIterationTime(seconds);
    state.counters["rows"] = rows;
    state.counters["rows_per_s"] = rows / seconds;
    state.counters["again_rows_per_s"] = again_rows / again_seconds;
  }
  state.SetLabel(company + " x" + std::to_string(state.range(1)) + " (" + std::to_string(employees) + " employees)");
}

BENCHMARK(BM_PassAndMandatoryWork)
    ->ArgsProduct({{0, 1}, {0, 1}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FirstPass)->Apply(Sizes)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SecondPass)->Apply(Sizes)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PeriodOrganisationUpdate)
    ->ArgsProduct({{0, 1}, {10, 100}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EmployeePass)->Arg(10)->Arg(100)->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  kx8::bench::CountFromEnv("KX8_BENCH_EMPLOYEES", &base_employees);
  kx8::bench::TakeOwnArguments(&argc, argv, [](std::string_view a) {
    if (a == "--rewrite-each-change") {
      kx8::console::SetColumnRunsDeferRewrites(false);
      return true;
    }
    return kx8::bench::CountFlag(a, "--employees=", &base_employees);
  });
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

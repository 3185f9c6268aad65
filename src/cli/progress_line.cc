#include "cli/progress_line.h"

#include <cstdio>
#include <ostream>

namespace kx8::cli {

ProgressLine::ProgressLine(std::ostream& terminal, bool enabled, std::size_t width)
    : terminal_(terminal), enabled_(enabled), width_(width) {}

std::string ProgressLine::Text(const console::RunProgress& p, Clock::duration elapsed, std::size_t width) {
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  char time[32];
  std::snprintf(time, sizeof time, "%lld:%02lld", seconds / 60, seconds % 60);
  std::string head = "[" + std::to_string(p.company) + "/" + std::to_string(p.companies) + "] " + p.code;
  std::string text = head + "  " + p.detail;
  // The time stays in view: the detail is cut short first.
  const std::size_t tail = 2 + std::string(time).size();
  if (text.size() + tail > width) text = text.substr(0, width > tail ? width - tail : 0);
  return text + "  " + time;
}

void ProgressLine::Update(const console::RunProgress& progress) {
  if (!enabled_) return;
  using What = console::RunProgress::What;
  place_ = progress;
  if (progress.what == What::Step) step_ = progress.detail;
  if (progress.what == What::CatalogueEntry) place_.detail = step_ + " " + progress.detail;
  if (progress.what == What::CompanyStarted || progress.what == What::CompanyEnded) step_.clear();
  const Clock::time_point now = Clock::now();
  const bool milestone = progress.what == What::CompanyStarted || progress.what == What::CompanyEnded;
  if (!milestone && shown_ > 0 && now - drawn_at_ < std::chrono::milliseconds(100)) return;
  drawn_at_ = now;
  Draw();
}

void ProgressLine::Draw() {
  std::string text = Text(place_, Clock::now() - start_, width_);
  std::string line = "\r" + text;
  if (text.size() < shown_) line += std::string(shown_ - text.size(), ' ') + "\r" + text;
  terminal_ << line << std::flush;
  shown_ = text.size();
}

void ProgressLine::Clear() {
  if (!enabled_ || shown_ == 0) return;
  terminal_ << '\r' << std::string(shown_, ' ') << '\r' << std::flush;
  shown_ = 0;
}

}  // namespace kx8::cli

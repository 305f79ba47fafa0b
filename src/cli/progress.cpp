#include "cli/progress.h"

#include <algorithm>
#include <cstdio>

#include "cli/entry.h"
#include "cli/os.h"

namespace quarn::cli {
namespace {

// "512 B", "64.0 KiB", "32.0 MiB".
std::string HumanSize(std::uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  static constexpr const char *kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  std::size_t unit = 0;
  while (value >= 1024 && unit + 1 < std::size(kUnits)) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, kUnits[unit]);
  return text;
}

}  // namespace

ProgressBar::ProgressBar(std::uint64_t totalBytes, bool enabled)
    : total_(totalBytes), enabled_(enabled) {}

void ProgressBar::StartFile(const std::string &name, std::uint64_t size) {
  name_ = DisplayPath(name);
  fileStart_ = done_;
  fileSize_ = size;
  Draw();
}

void ProgressBar::Advance(std::uint64_t bytes) {
  // Never past the file's own size, whatever the plugin reports.
  done_ = std::min(done_ + bytes, fileStart_ + fileSize_);
  Draw();
}

void ProgressBar::FinishFile() {
  done_ = fileStart_ + fileSize_;
  fileStart_ = done_;
  fileSize_ = 0;
  Draw();
}

void ProgressBar::Clear() {
  if (!drawn_) return;
  std::fprintf(stderr, "\r%*s\r", TerminalWidth() - 1, "");
  std::fflush(stderr);
  drawn_ = false;
}

void ProgressBar::Draw() {
  if (!enabled_) return;
  // At most ten updates a second: a terminal is slow next to the plugin.
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - lastDraw_ < std::chrono::milliseconds(100)) return;
  lastDraw_ = now;

  const unsigned percent =
      total_ == 0 ? 100 : static_cast<unsigned>(std::min<std::uint64_t>(done_ * 100 / total_, 100));
  char head[96];
  std::snprintf(head, sizeof head, "%3u%%  %s / %s  ", percent, HumanSize(done_).c_str(),
                HumanSize(total_).c_str());
  std::string line = head + name_;
  // One column short of the width, so the terminal never wraps.
  const std::size_t width = static_cast<std::size_t>(std::max(TerminalWidth() - 1, 20));
  if (line.size() > width) line = line.substr(0, width - 3) + "...";
  std::fprintf(stderr, "\r%-*s", static_cast<int>(width), line.c_str());
  std::fflush(stderr);
  drawn_ = true;
}

}  // namespace quarn::cli

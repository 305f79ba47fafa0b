// The one-line progress display of an extraction on a terminal:
//   " 45%  12.3 MiB / 27.0 MiB  FFS/data/a.txt"
#ifndef QUARN_CLI_PROGRESS_H
#define QUARN_CLI_PROGRESS_H

#include <chrono>
#include <cstdint>
#include <string>

namespace quarn::cli {

class ProgressBar {
 public:
  // A disabled bar draws nothing (stderr is not a terminal).
  ProgressBar(std::uint64_t totalBytes, bool enabled);
  ~ProgressBar() { Clear(); }

  void StartFile(const std::string &name, std::uint64_t size);
  // Bytes of the current file written so far, as the plugin reports them.
  void Advance(std::uint64_t bytes);
  // The plugin reports before each piece, never after the last one: when a
  // file is done, all of it counts.
  void FinishFile();
  // Erases the line, so that a message can be printed; the next update draws
  // it again.
  void Clear();

 private:
  void Draw();

  std::uint64_t total_;
  std::uint64_t done_ = 0;       // finished files and the current one so far
  std::uint64_t fileStart_ = 0;  // done_ when the current file started
  std::uint64_t fileSize_ = 0;
  std::string name_;
  bool enabled_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point lastDraw_{};
};

}  // namespace quarn::cli

#endif

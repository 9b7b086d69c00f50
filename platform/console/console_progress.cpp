#include "platform/console/console_progress.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

#include "platform/console/console_text.h"

namespace tl {

namespace {

constexpr std::size_t kLeastBarWidth = 10;
constexpr std::size_t kMostBarWidth = 40;
constexpr std::size_t kLabelWidth = 15;  // "255.255.255.255"
constexpr std::uint64_t kRedrawMs = 100;

std::uint64_t NowMs() {
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

// "812 B", "64.0 KiB", "16.0 MiB".
std::string Size(std::uint64_t bytes) {
  char text[32];
  if (bytes < 1024) {
    std::snprintf(text, sizeof text, "%llu B", static_cast<unsigned long long>(bytes));
  } else if (bytes < 1024 * 1024) {
    std::snprintf(text, sizeof text, "%.1f KiB", static_cast<double>(bytes) / 1024);
  } else {
    std::snprintf(text, sizeof text, "%.1f MiB", static_cast<double>(bytes) / (1024 * 1024));
  }
  return text;
}

std::string Minutes(std::uint64_t ms) {
  const std::uint64_t s = (ms + 999) / 1000;
  char text[32];
  std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(s / 60),
                static_cast<unsigned long long>(s % 60));
  return text;
}

}  // namespace

ConsoleProgress::ConsoleProgress(bool several) : several_(several), terminal_(RedrawsInPlace(stderr)) {}

ConsoleProgress::~ConsoleProgress() { End(); }

void ConsoleProgress::Show(int key, const std::string& label, const Figures& figures) {
  Row& row = rows_[key];
  row.label = label;
  row.figures = figures;
  if (!row.moved && figures.percent > 0) {
    row.moved = true;
    row.firstMs = figures.elapsedMs;
    row.firstPercent = figures.percent;
  }
  if (row.sentAllMs == 0 && figures.imageLength > 0 && figures.bytesSent >= figures.imageLength) {
    row.sentAllMs = std::max<std::uint64_t>(figures.elapsedMs, 1);
  }
  if (!terminal_) {
    ShowPlain(row, figures.percent);
    return;
  }
  pending_ = true;
  if (NowMs() - lastDrawMs_ >= kRedrawMs) Draw();
}

void ConsoleProgress::ShowPlain(Row& row, int percent) {
  // One line per tenth, so that a log stays short.
  const bool sameTenth = percent / 10 == row.lastPlain / 10;
  row.lastPlain = percent;
  if (sameTenth) return;
  const std::string prefix = row.label.empty() ? "" : row.label + ": ";
  WriteLine(stderr, prefix + "Percent Complete " + std::to_string(percent) + "%");
  std::fflush(stderr);
}

void ConsoleProgress::Drop(int key) {
  if (!terminal_) {
    rows_.erase(key);
    return;
  }
  if (!several_ && pending_) Draw();  // its last figures stay on screen
  if (rows_.erase(key) == 0) return;
  if (several_) Draw();
}

void ConsoleProgress::Line(std::string_view text) {
  if (several_) {
    Clear();
  } else {
    End();
  }
  WriteLine(stderr, text);
  if (several_ && terminal_) Draw();
  std::fflush(stderr);
}

void ConsoleProgress::End() {
  if (pending_ && terminal_) Draw();
  if (drawnLines_ > 0) std::fputc('\n', stderr);
  std::fflush(stderr);
  drawnLines_ = 0;
  drawnLength_ = 0;
}

std::string ConsoleProgress::RowText(const Row& row, std::size_t columns) const {
  const Figures& f = row.figures;
  std::string label = several_ ? row.label : "Percent Complete";
  if (several_ && label.size() < kLabelWidth) label.resize(kLabelWidth, ' ');
  char percent[8];
  std::snprintf(percent, sizeof percent, "%3d%%", f.percent);
  const std::uint64_t sendingMs = row.sentAllMs != 0 ? row.sentAllMs : f.elapsedMs;
  std::string figures = std::string("] ") + percent + " " + Size(f.bytesSent) + "/" +
                        Size(f.imageLength) + " " +
                        Size(sendingMs == 0 ? 0 : f.bytesSent * 1000 / sendingMs) + "/s ";
  if (f.percent >= 100) {
    figures += "0:00 left";
  } else if (row.moved && f.percent > row.firstPercent) {
    const std::uint64_t spent = f.elapsedMs - row.firstMs;
    figures += Minutes(spent * static_cast<std::uint64_t>(100 - f.percent) /
                       static_cast<std::uint64_t>(f.percent - row.firstPercent)) +
               " left";
  } else {
    figures += "--:-- left";
  }
  // The bar takes what the terminal's width leaves, within bounds.
  const std::size_t fixed = label.size() + 2 + figures.size();
  const int width = static_cast<int>(
      std::clamp<std::size_t>(columns > fixed + 1 ? columns - 1 - fixed : 0, kLeastBarWidth, kMostBarWidth));
  const int filled = std::clamp(f.percent, 0, 100) * width / 100;
  return label + " [" + std::string(static_cast<std::size_t>(filled), '#') +
         std::string(static_cast<std::size_t>(width - filled), '.') + figures;
}

void ConsoleProgress::Clear() {
  if (!terminal_ || drawnLines_ == 0) return;
  std::fputc('\r', stderr);
  if (drawnLines_ > 1) std::fprintf(stderr, "\x1b[%dA", drawnLines_ - 1);
  std::fputs("\x1b[J", stderr);
  drawnLines_ = 0;
}

void ConsoleProgress::Draw() {
  pending_ = false;
  lastDrawMs_ = NowMs();
  const auto [columns, lines] = TerminalSize(stderr);
  std::vector<std::string> texts;
  for (const auto& [key, row] : rows_) texts.push_back(RowText(row, columns));
  // Never wider than the terminal, nor more lines than it has: the cursor
  // could not come back up.
  const std::size_t most = static_cast<std::size_t>(std::max(lines - 2, 1));
  if (texts.size() > most) {
    const std::size_t more = texts.size() - (most - 1);
    texts.resize(most - 1);
    texts.push_back("... and " + std::to_string(more) + " more");
  }
  for (std::string& t : texts) {
    if (t.size() >= columns) t.resize(columns - 1);
  }
  if (!several_) {
    // One line, redrawn over itself without any control sequence.
    if (texts.empty()) return;
    std::string text = texts.front();
    const std::size_t length = text.size();
    if (length < drawnLength_) text.append(drawnLength_ - length, ' ');
    std::fputc('\r', stderr);
    WriteText(stderr, text);
    drawnLength_ = length;
    drawnLines_ = 1;
    std::fflush(stderr);
    return;
  }
  Clear();
  for (std::size_t i = 0; i < texts.size(); ++i) {
    if (i > 0) std::fputc('\n', stderr);
    WriteText(stderr, texts[i]);
  }
  drawnLines_ = static_cast<int>(texts.size());
  std::fflush(stderr);
}

}  // namespace tl

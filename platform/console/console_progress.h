// The progress of running updates on stderr. On a terminal each update has
// one line, redrawn in place: the per cent, the bytes sent, the rate and
// the time left; other lines are written above those. Into a pipe or a file
// an update gives one plain line per tenth.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>

namespace tl {

class ConsoleProgress {
 public:
  struct Figures {
    int percent = 0;
    std::uint64_t bytesSent = 0;
    std::uint64_t imageLength = 0;
    std::uint64_t elapsedMs = 0;  // since the update started
  };

  // several: updates run side by side, each line is labelled (the module's
  // address) and the lines stay together below everything else. Otherwise
  // one unlabelled line, ended and left on screen before any other line.
  explicit ConsoleProgress(bool several);
  ~ConsoleProgress();  // ends the lines
  ConsoleProgress(const ConsoleProgress&) = delete;
  ConsoleProgress& operator=(const ConsoleProgress&) = delete;

  // Sets a row (rows show in the order of their keys). On a terminal it is
  // drawn at once, unless the rows were drawn less than a tenth of a second
  // ago: then with the next call that finds the tenth passed.
  void Show(int row, const std::string& label, const Figures& figures);
  void Drop(int row);
  // A line of UTF-8 text above the rows.
  void Line(std::string_view text);
  // Leaves what is drawn on screen; later rows are drawn below it.
  void End();

 private:
  struct Row {
    std::string label;
    Figures figures;
    int lastPlain = 0;           // the last per cent a plain line was judged for
    std::uint64_t firstMs = 0;   // when the per cent first moved, and from what
    int firstPercent = 0;
    bool moved = false;
    std::uint64_t sentAllMs = 0;  // when the last image byte went; 0 before
  };
  std::string RowText(const Row& row, std::size_t columns) const;
  void ShowPlain(Row& row, int percent);
  void Draw();
  void Clear();

  bool several_;
  bool terminal_;
  std::map<int, Row> rows_;
  int drawnLines_ = 0;               // on screen below the last line; cursor at the end of the last
  std::size_t drawnLength_ = 0;      // one row alone: how long it was
  std::uint64_t lastDrawMs_ = 0;
  bool pending_ = false;             // something changed since the last drawing
};

}  // namespace tl

// The numbered lines of the update exchange: the codes a module sends, and
// the program's own lines that go through the same handler.
#pragma once

namespace tl::line {

constexpr int kPlatform = 100;     // "100 ...:<platform>:..."
constexpr int kCredentials = 101;  // wants user name and password
constexpr int kPlacement = 102;    // wants start address and length
constexpr int kImage = 103;        // wants the image
constexpr int kReboot = 105;       // wants "R" or "D"
constexpr int kDone = 106;
constexpr int kDoneToo = 107;      // treated as 106
constexpr int kFirstError = 201;
constexpr int kLastError = 300;
constexpr int kProgressBase = 300;  // 301 and above: per cent = code - 300
constexpr int kMostPercent = 100;

// The program's own lines.
constexpr int kTimedOut = 298;
constexpr int kProgramError = 299;
inline constexpr char kTimedOutLine[] = "298 Timed out";
inline constexpr char kConnectErrorLine[] = "299 Connect error";
inline constexpr char kReceiveErrorLine[] = "299 Receive error";
// For a front end that ends at once when the module closes the connection.
inline constexpr char kClosedByModuleLine[] = "299 Connection closed by module";
// A module that keeps asking while it takes none of the answers.
inline constexpr char kStoppedReadingLine[] = "299 Module stopped reading";

constexpr bool IsError(int code) { return code >= kFirstError && code <= kLastError; }
constexpr bool IsProgress(int code) { return code > kProgressBase; }

}  // namespace tl::line

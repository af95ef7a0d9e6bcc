#include "history_file.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace metersim {

namespace {

std::string trimmed(const std::string &s) {
  size_t b = 0, e = s.size();
  while (b < e && std::isspace(static_cast<unsigned char>(s[b]))) ++b;
  while (e > b && std::isspace(static_cast<unsigned char>(s[e - 1]))) --e;
  return s.substr(b, e - b);
}

std::string lower(std::string s) {
  for (char &c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

struct CodeChoice {
  int code;
  int decimals;  // the code's divisor is 10^decimals
};
// Finest first.
const CodeChoice kMilliAmpCodes[] = {{10, 3}, {1, 2}, {3, 1}};
const CodeChoice kAmpCodes[] = {{11, 3}, {5, 2}, {7, 1}, {12, 0}};

// The count value of `digits` x 10^-decimals at a code with `codeDecimals`
// decimals, or -1 when it is not a whole number in 0..9999.
long countAt(long long digits, int decimals, int codeDecimals) {
  if (decimals > codeDecimals) return -1;
  for (int i = decimals; i < codeDecimals; ++i) {
    digits *= 10;
    if (digits > 9999) return -1;
  }
  return digits <= 9999 ? static_cast<long>(digits) : -1;
}

}  // namespace

bool encodeStoredValue(const std::string &text, Group &group, std::string &why) {
  const std::string t = lower(trimmed(text));
  if (t == "ol") {
    group = {0, 0, 9};
    return true;
  }
  if (t == "invalid") {
    group = {0, 0, 0};
    return true;
  }
  // A plain decimal number: its digits and how many of them follow the point.
  size_t i = 0;
  long long digits = 0;
  int decimals = 0, seen = 0;
  bool point = false;
  for (; i < t.size(); ++i) {
    const char c = t[i];
    if (c == '.' && !point) {
      point = true;
      continue;
    }
    if (!std::isdigit(static_cast<unsigned char>(c))) break;
    if (digits > 1000000000LL) {
      why = "too many digits";
      return false;
    }
    digits = digits * 10 + (c - '0');
    decimals += point;
    ++seen;
  }
  if (seen == 0) {
    why = "expected a value with its unit, such as 12.34mA, 0.5A or OL";
    return false;
  }
  while (decimals > 0 && digits % 10 == 0) {  // 12.340 is 12.34
    digits /= 10;
    --decimals;
  }
  const std::string unit = trimmed(t.substr(i));
  bool milliAmps;
  if (unit == "ma")
    milliAmps = true;
  else if (unit == "a")
    milliAmps = false;
  else {
    why = unit.empty() ? "the unit is missing (mA or A)" : "unknown unit \"" + unit + "\" (mA or A)";
    return false;
  }
  if (milliAmps) {
    for (const CodeChoice &c : kMilliAmpCodes) {
      const long count = countAt(digits, decimals, c.decimals);
      if (count >= 0) {
        group = encodeReading(c.code, count / static_cast<double>(codeDivisor(c.code)));
        return true;
      }
    }
    decimals += 3;  // as amperes
  }
  for (const CodeChoice &c : kAmpCodes) {
    const long count = countAt(digits, decimals, c.decimals);
    if (count >= 0) {
      group = encodeReading(c.code, count / static_cast<double>(codeDivisor(c.code)));
      return true;
    }
  }
  why = "the meter cannot store it (4 digits, from 0.001 mA to 9999 A)";
  return false;
}

bool readHistoryFile(const std::string &path, std::vector<Group> &groups, std::string &error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path + ": " + std::strerror(errno);
    return false;
  }
  groups.clear();
  std::string line;
  for (int number = 1; std::getline(in, line); ++number) {
    if (number == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // a byte-order mark
    const std::string t = trimmed(line);
    if (t.empty() || t[0] == '#') continue;
    Group g{};
    std::string why;
    if (!encodeStoredValue(t, g, why)) {
      error = path + ":" + std::to_string(number) + ": cannot store \"" + t + "\": " + why;
      return false;
    }
    if (groups.size() == 255) {
      error = path + ":" + std::to_string(number) + ": more than 255 groups (the count reply holds one byte)";
      return false;
    }
    groups.push_back(g);
  }
  if (in.bad()) {
    error = "cannot read " + path;
    return false;
  }
  return true;
}

}  // namespace metersim

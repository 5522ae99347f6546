// The text of one counter value in the CSV statistics: exactly what printf's
// "%.18g" prints (18 significant digits, general form; 0 as "0", 12.5 as
// "12.5", inf and nan as "inf", "-inf", "nan", "-nan").
#ifndef KESTRANE_EXPORTER_STATISTICS_VALUE_H_
#define KESTRANE_EXPORTER_STATISTICS_VALUE_H_

#include <string>

namespace kst {

// The longest text AppendStatisticsValue writes ("-1.23456789012345678e-308").
inline constexpr int kMaxStatisticsValueLength = 25;

// Writes the value's text at `out`, which has room for
// kMaxStatisticsValueLength characters; returns the end of what it wrote.
char* WriteStatisticsValue(double value, char* out);

// Appends the value's text to *text.
void AppendStatisticsValue(double value, std::string* text);

}  // namespace kst

#endif  // KESTRANE_EXPORTER_STATISTICS_VALUE_H_

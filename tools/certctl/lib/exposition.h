// The Prometheus text exposition format, as node_exporter's textfile
// collector reads it: families with their HELP and TYPE lines, and samples
// with escaped labels.
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace certctl {

using Labels = std::vector<std::pair<const char*, std::string>>;

class Exposition {
 public:
  // Starts a metric family, its name prefixed with "certificates_manager_".
  void Family(const char* name, const char* type, const char* help);
  void Sample(const Labels& labels, std::int64_t value);
  void SampleSeconds(const Labels& labels, double seconds);
  std::string text() const { return m_text.str(); }

 private:
  void Write(const Labels& labels, const std::string& value);

  std::string m_name;
  std::ostringstream m_text;
};

}  // namespace certctl

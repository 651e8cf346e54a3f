#include "tools/certctl/lib/exposition.h"

namespace certctl {
namespace {

constexpr const char* kPrefix = "certificates_manager_";

// A label value as the format requires: backslash, quote and line feed escaped.
std::string Escaped(const std::string& value) {
  std::string escaped;
  for (char c : value) {
    if (c == '\\')
      escaped += "\\\\";
    else if (c == '"')
      escaped += "\\\"";
    else if (c == '\n')
      escaped += "\\n";
    else
      escaped += c;
  }
  return escaped;
}

}  // namespace

void Exposition::Family(const char* name, const char* type, const char* help) {
  m_name = std::string(kPrefix) + name;
  m_text << "# HELP " << m_name << " " << help << "\n# TYPE " << m_name << " " << type << "\n";
}

void Exposition::Sample(const Labels& labels, std::int64_t value) { Write(labels, std::to_string(value)); }

void Exposition::SampleSeconds(const Labels& labels, double seconds) {
  char text[32];
  std::snprintf(text, sizeof(text), "%.6f", seconds);
  Write(labels, text);
}

void Exposition::Write(const Labels& labels, const std::string& value) {
  m_text << m_name;
  for (std::size_t i = 0; i < labels.size(); ++i)
    m_text << (i ? "," : "{") << labels[i].first << "=\"" << Escaped(labels[i].second) << "\"";
  m_text << (labels.empty() ? " " : "} ") << value << "\n";
}

}  // namespace certctl

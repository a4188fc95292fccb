// Writing the validator's reports.
#include "host/validate/report.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>

#include <cstdio>
#include <sstream>

#include "host/core/document.h"

namespace Kavren::Host {
namespace {

std::string Seconds(double seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", seconds);
  return text;
}

std::string Hex(std::uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
  return text;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '&':
        out += "&amp;";
        break;
      case '"':
        out += "&quot;";
        break;
      default:
        // XML 1.0 has no place for most control characters.
        if (static_cast<unsigned char>(c) < 0x20 && c != '\n' && c != '\t') {
          out += '?';
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::size_t CountOf(const RunSummary& summary, CheckStatus status) {
  std::size_t count = 0;
  for (const CheckResult& check : summary.checks) count += check.status == status ? 1 : 0;
  return count;
}

}  // namespace

const char* CheckStatusName(CheckStatus status) {
  switch (status) {
    case CheckStatus::kPass:
      return "pass";
    case CheckStatus::kFail:
      return "fail";
    case CheckStatus::kCrash:
      return "crash";
    case CheckStatus::kTimeout:
      return "timeout";
    case CheckStatus::kSkip:
      return "skip";
  }
  return "fail";
}

int ExitCodeOf(const RunSummary& summary) {
  if (CountOf(summary, CheckStatus::kCrash) + CountOf(summary, CheckStatus::kTimeout) > 0) {
    return 2;
  }
  if (CountOf(summary, CheckStatus::kFail) > 0) return 1;
  // Skips never count as passes: a run that executed nothing fails.
  if (CountOf(summary, CheckStatus::kPass) == 0) return 1;
  return 0;
}

std::string TextReport(const RunSummary& summary) {
  std::ostringstream out;
  for (const CheckResult& check : summary.checks) {
    std::string status = CheckStatusName(check.status);
    for (char& c : status) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    status.resize(8, ' ');
    out << status << check.id << " (" << Seconds(check.seconds) << " s";
    if (check.rounds > 0) out << ", " << check.rounds << " rounds, " << check.ops << " ops";
    out << ")";
    if (!check.message.empty()) out << ": " << check.message;
    out << "\n";
    if (check.status == CheckStatus::kPass) continue;
    for (std::size_t index = 1; index < check.findings.size() && index < 6; ++index) {
      out << "        also " << check.findings[index].kind << ": " << check.findings[index].message
          << "\n";
    }
    if (check.status == CheckStatus::kSkip) continue;
    if (!check.diagnostics.empty()) {
      std::istringstream lines(check.diagnostics);
      std::string line;
      int shown = 0;
      while (std::getline(lines, line) && shown < 60) {
        out << "        | " << line << "\n";
        ++shown;
      }
    }
    if (!check.tracePath.empty()) out << "        trace: " << check.tracePath << "\n";
    if (!check.shrunkTracePath.empty()) {
      out << "        shrunk trace: " << check.shrunkTracePath << "\n";
    }
    out << "        reproduce: " << check.command << "\n";
  }
  const std::size_t total = summary.checks.size();
  const std::size_t passed = CountOf(summary, CheckStatus::kPass);
  const std::size_t skipped = CountOf(summary, CheckStatus::kSkip);
  const std::size_t failed = total - passed - skipped;
  std::string counts = std::to_string(passed) + " passed, " + std::to_string(failed) + " failed, " +
                       std::to_string(skipped) + " skipped of " + std::to_string(total) +
                       " checks, seed " + Hex(summary.seed) + ", " + Seconds(summary.seconds) +
                       " s";
  if (ExitCodeOf(summary) == 0) {
    out << "SUCCESS: " << counts << "\n";
  } else if (passed == 0 && failed == 0) {
    out << "FAILURE: nothing ran (" << counts << ")\n";
  } else {
    out << "FAILURE: " << counts << "\n";
  }
  return out.str();
}

std::string JsonReport(const RunSummary& summary) {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
  const auto string = [&](const std::string& text) {
    writer.String(text.c_str(), static_cast<rapidjson::SizeType>(text.size()));
  };
  // A trace is embedded as the JSON it is; null when there is none.
  const auto trace = [&](const std::string& json) {
    rapidjson::Document document;
    if (json.empty() || ParseJsonText(json, document).Failed()) {
      writer.Null();
    } else {
      document.Accept(writer);
    }
  };
  writer.StartObject();
  writer.Key("schema");
  writer.String("hxa-validate-report");
  writer.Key("version");
  writer.Int(1);
  writer.Key("plugin");
  string(summary.plugin);
  writer.Key("seed");
  writer.Uint64(summary.seed);
  writer.Key("threads");
  writer.Int(summary.threads);
  writer.Key("seconds");
  writer.Double(summary.seconds);
  writer.Key("exitCode");
  writer.Int(ExitCodeOf(summary));
  writer.Key("checks");
  writer.StartArray();
  for (const CheckResult& check : summary.checks) {
    writer.StartObject();
    writer.Key("id");
    string(check.id);
    writer.Key("description");
    string(check.description);
    writer.Key("status");
    writer.String(CheckStatusName(check.status));
    writer.Key("duration");
    writer.Double(check.seconds);
    writer.Key("seed");
    writer.Uint64(check.seed);
    writer.Key("rounds");
    writer.Uint64(check.rounds);
    writer.Key("ops");
    writer.Uint64(check.ops);
    writer.Key("message");
    string(check.message);
    writer.Key("findings");
    writer.StartArray();
    for (const Finding& finding : check.findings) {
      writer.StartObject();
      writer.Key("kind");
      string(finding.kind);
      writer.Key("message");
      string(finding.message);
      writer.EndObject();
    }
    writer.EndArray();
    writer.Key("diagnostics");
    string(check.diagnostics);
    writer.Key("command");
    string(check.command);
    writer.Key("trace");
    trace(check.traceJson);
    writer.Key("tracePath");
    string(check.tracePath);
    writer.Key("shrunkTrace");
    trace(check.shrunkTraceJson);
    writer.Key("shrunkTracePath");
    string(check.shrunkTracePath);
    writer.EndObject();
  }
  writer.EndArray();
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

std::string JunitReport(const RunSummary& summary) {
  std::ostringstream out;
  const std::size_t failures = CountOf(summary, CheckStatus::kFail);
  const std::size_t errors =
      CountOf(summary, CheckStatus::kCrash) + CountOf(summary, CheckStatus::kTimeout);
  out << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  out << "<testsuites>\n";
  out << "  <testsuite name=\"hxa-host validate\" tests=\"" << summary.checks.size()
      << "\" failures=\"" << failures << "\" errors=\"" << errors << "\" skipped=\""
      << CountOf(summary, CheckStatus::kSkip) << "\" time=\"" << Seconds(summary.seconds)
      << "\">\n";
  out << "    <properties><property name=\"seed\" value=\"" << summary.seed
      << "\"/><property name=\"plugin\" value=\"" << XmlEscape(summary.plugin)
      << "\"/></properties>\n";
  for (const CheckResult& check : summary.checks) {
    const std::string family = check.id.substr(0, check.id.find('.'));
    out << "    <testcase classname=\"validate." << XmlEscape(family) << "\" name=\""
        << XmlEscape(check.id) << "\" time=\"" << Seconds(check.seconds) << "\">";
    const std::string detail =
        check.message + "\n" + check.diagnostics + "\nreproduce: " + check.command;
    switch (check.status) {
      case CheckStatus::kPass:
        break;
      case CheckStatus::kSkip:
        out << "<skipped message=\"" << XmlEscape(check.message) << "\"/>";
        break;
      case CheckStatus::kFail:
        out << "<failure message=\"" << XmlEscape(check.message) << "\">" << XmlEscape(detail)
            << "</failure>";
        break;
      case CheckStatus::kCrash:
      case CheckStatus::kTimeout:
        out << "<error type=\"" << CheckStatusName(check.status) << "\" message=\""
            << XmlEscape(check.message) << "\">" << XmlEscape(detail) << "</error>";
        break;
    }
    out << "</testcase>\n";
  }
  out << "  </testsuite>\n</testsuites>\n";
  return out.str();
}

}  // namespace Kavren::Host

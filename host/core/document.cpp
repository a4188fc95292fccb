// JSON through RapidJSON, YAML through libyaml's event parser, both into one document form.
#include "host/core/document.h"

#include <rapidjson/error/en.h>
#include <yaml.h>

#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

#include "host/core/host_value.h"

namespace Kavren::Host {
namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
  return text.size() >= suffix.size() &&
         text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

// A plain YAML scalar as JSON: the core schema's null, bool and number forms.
void PlainScalar(const std::string& text, rapidjson::Value& out,
                 rapidjson::Document::AllocatorType& allocator) {
  if (text.empty() || text == "~" || text == "null" || text == "Null" || text == "NULL") {
    out.SetNull();
    return;
  }
  if (text == "true" || text == "True" || text == "TRUE") {
    out.SetBool(true);
    return;
  }
  if (text == "false" || text == "False" || text == "FALSE") {
    out.SetBool(false);
    return;
  }
  const char* begin = text.data();
  const char* end = begin + text.size();
  const char* digits = (*begin == '-' || *begin == '+') ? begin + 1 : begin;
  if (digits != end && *digits >= '0' && *digits <= '9') {
    std::int64_t whole = 0;
    auto [next, error] = std::from_chars(*begin == '+' ? begin + 1 : begin, end, whole);
    if (error == std::errc() && next == end) {
      out.SetInt64(whole);
      return;
    }
    std::uint64_t big = 0;
    auto [bigNext, bigError] = std::from_chars(*begin == '+' ? begin + 1 : begin, end, big);
    if (bigError == std::errc() && bigNext == end) {
      out.SetUint64(big);
      return;
    }
    double number = 0;
    auto [realNext, realError] = std::from_chars(*begin == '+' ? begin + 1 : begin, end, number);
    if (realError == std::errc() && realNext == end) {
      out.SetDouble(number);
      return;
    }
  }
  out.SetString(text.data(), static_cast<rapidjson::SizeType>(text.size()), allocator);
}

struct Parser {
  yaml_parser_t parser;
  Parser() { yaml_parser_initialize(&parser); }
  ~Parser() { yaml_parser_delete(&parser); }
};

struct Event {
  yaml_event_t event{};
  bool filled = false;
  ~Event() {
    if (filled) yaml_event_delete(&event);
  }
};

std::string Position(const yaml_mark_t& mark) {
  return "line " + std::to_string(mark.line + 1) + ", column " + std::to_string(mark.column + 1);
}

// Builds a document's tree from the parser's events: the open containers on a stack,
// where a mapping keeps its pending key while its value is built.
class TreeBuilder {
 public:
  explicit TreeBuilder(rapidjson::Document::AllocatorType& allocator) : allocator_(allocator) {}

  [[nodiscard]] bool HaveRoot() const { return haveRoot_; }
  [[nodiscard]] std::size_t Depth() const { return stack_.size(); }

  // A scalar: a plain one in the core schema's forms, any other as its text.
  void Scalar(const yaml_event_t& event) {
    rapidjson::Value node;
    const std::string scalar(reinterpret_cast<const char*>(event.data.scalar.value),
                             event.data.scalar.length);
    if (event.data.scalar.style == YAML_PLAIN_SCALAR_STYLE) {
      PlainScalar(scalar, node, allocator_);
    } else {
      node.SetString(scalar.data(), static_cast<rapidjson::SizeType>(scalar.size()), allocator_);
    }
    Place(std::move(node));
  }

  // Opens a sequence (`sequence`) or a mapping.
  void Open(bool sequence) {
    stack_.emplace_back();
    if (sequence) {
      stack_.back().value.SetArray();
    } else {
      stack_.back().value.SetObject();
    }
  }

  // Closes the innermost container and places it.
  void Close() {
    rapidjson::Value node = std::move(stack_.back().value);
    stack_.pop_back();
    Place(std::move(node));
  }

  // Makes the root (null when there is none) the document.
  void MoveRootInto(rapidjson::Document& document) {
    if (!haveRoot_) root_.SetNull();
    document.SetNull();
    static_cast<rapidjson::Value&>(document) = std::move(root_);
  }

 private:
  struct OpenContainer {
    rapidjson::Value value;
    rapidjson::Value key;
    bool hasKey = false;
  };

  // Places a finished node into the innermost container, or makes it the root.
  void Place(rapidjson::Value&& node) {
    if (stack_.empty()) {
      root_ = std::move(node);
      haveRoot_ = true;
      return;
    }
    OpenContainer& top = stack_.back();
    if (top.value.IsArray()) {
      top.value.PushBack(node, allocator_);
    } else if (!top.hasKey) {
      SetKey(top, std::move(node));
    } else {
      auto existing = top.value.FindMember(top.key);
      if (existing != top.value.MemberEnd()) {
        existing->value = std::move(node);
      } else {
        top.value.AddMember(top.key, node, allocator_);
      }
      top.hasKey = false;
    }
  }

  void SetKey(OpenContainer& top, rapidjson::Value&& node) {
    if (!node.IsString()) {
      // A key is its text, whatever the plain scalar looked like.
      rapidjson::StringBuffer buffer;
      rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
      node.Accept(writer);
      top.key.SetString(buffer.GetString(), static_cast<rapidjson::SizeType>(buffer.GetSize()),
                        allocator_);
    } else {
      top.key = std::move(node);
    }
    top.hasKey = true;
  }

  rapidjson::Document::AllocatorType& allocator_;
  std::vector<OpenContainer> stack_;
  bool haveRoot_ = false;
  rapidjson::Value root_;
};

}  // namespace

MaybeType<Failure> ParseJsonText(const std::string& text, rapidjson::Document& document) {
  // Iterative parsing: a deeply nested text cannot exhaust the stack here.
  document.Parse<rapidjson::kParseIterativeFlag>(text.c_str(), text.size());
  if (document.HasParseError()) {
    return Failure{"JSON error at offset " + std::to_string(document.GetErrorOffset()) + ": " +
                   rapidjson::GetParseError_En(document.GetParseError())};
  }
  return {};
}

MaybeType<Failure> ParseYamlText(const std::string& text, rapidjson::Document& document) {
  Parser parser;
  yaml_parser_set_encoding(&parser.parser, YAML_UTF8_ENCODING);
  yaml_parser_set_input_string(&parser.parser, reinterpret_cast<const unsigned char*>(text.data()),
                               text.size());
  TreeBuilder tree(document.GetAllocator());
  for (;;) {
    Event event;
    if (!yaml_parser_parse(&parser.parser, &event.event)) {
      return Failure{
          "YAML error at " + Position(parser.parser.problem_mark) + ": " +
          (parser.parser.problem != nullptr ? parser.parser.problem : "unknown problem")};
    }
    event.filled = true;
    const yaml_event_t& current = event.event;
    switch (current.type) {
      case YAML_STREAM_END_EVENT:
      case YAML_DOCUMENT_END_EVENT:
        if (tree.HaveRoot() || current.type == YAML_STREAM_END_EVENT) {
          tree.MoveRootInto(document);
          return {};
        }
        break;
      case YAML_ALIAS_EVENT:
        return Failure{"YAML error at " + Position(current.start_mark) +
                       ": aliases are not supported"};
      case YAML_SCALAR_EVENT:
        tree.Scalar(current);
        break;
      case YAML_SEQUENCE_START_EVENT:
      case YAML_MAPPING_START_EVENT:
        if (tree.Depth() >= static_cast<std::size_t>(kMaxValueDepth)) {
          return Failure{"YAML error at " + Position(current.start_mark) +
                         ": nested deeper than 512 levels"};
        }
        tree.Open(current.type == YAML_SEQUENCE_START_EVENT);
        break;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT:
        tree.Close();
        break;
      default:
        break;
    }
  }
}

MaybeType<Failure> LoadDocumentFile(const std::string& path, rapidjson::Document& document) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return Failure{"cannot read " + path};
  std::ostringstream text;
  text << file.rdbuf();
  const bool yaml = EndsWith(path, ".yaml") || EndsWith(path, ".yml");
  MaybeType<Failure> parsed =
      yaml ? ParseYamlText(text.str(), document) : ParseJsonText(text.str(), document);
  if (parsed.Failed()) return Failure{path + ": " + parsed.GetFailure().message};
  return {};
}

}  // namespace Kavren::Host

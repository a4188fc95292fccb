// ReadYaml: libyaml's events turned into binding values, with anchors and aliases.
#include "formats/yaml.h"

#include <yaml.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "formats/limits.h"
#include "formats/messages.h"
#include "formats/yaml_scalar.h"
#include "util/format.h"

namespace Kavren {
namespace detail {
namespace {

constexpr std::string_view kTagString = "tag:yaml.org,2002:str";

// Alias copies may create this many values per value read directly, plus a fixed
// allowance, so a small text cannot expand into an enormous value.
constexpr std::uint64_t kAliasValuesPerValue = 100;
constexpr std::uint64_t kAliasValuesAllowance = 10000;

enum class YamlStepKind : std::uint8_t { kRoot, kElement, kMember };

// One step of a path from the root, shared between the paths of all anchors that
// pass through it, so entering an anchor costs no copy of the path.
struct YamlPathNode {
  std::shared_ptr<const YamlPathNode> parent;
  YamlStepKind kind;
  std::size_t index;
  std::string key;
};

struct YamlPathStep {
  YamlStepKind kind;
  std::size_t index;
  std::string key;
  std::shared_ptr<const YamlPathNode> node;  // built when an anchor needs it
};

// What an anchor refers to: a mapping key's text, or the value at a path.
struct YamlAnchorTarget {
  bool isKey = false;
  std::string keyText;
  std::shared_ptr<const YamlPathNode> path;
};

struct YamlOpenValue {
  BindingProperty* value;
  std::string anchor;  // the container's anchor name while it is open
};

// Counts the values of a tree and its container depth (a scalar has depth 0).
class ValueMeasure final : public BindingVisitor {
 public:
  std::uint64_t values = 0;
  std::size_t depth = 0;

  void VisitEmpty() override { ++values; }
  void VisitBool(bool) override { ++values; }
  void VisitSigned(std::int64_t) override { ++values; }
  void VisitUnsigned(std::uint64_t) override { ++values; }
  void VisitFloat(double) override { ++values; }
  void VisitString(std::string_view) override { ++values; }
  void VisitBlob(std::span<const std::uint8_t>) override { ++values; }
  void VisitEnum(BindingEnumValue) override { ++values; }
  void BeginCollection(std::size_t) override { Open(); }
  void EndCollection() override { --open_; }
  void BeginStructure(std::size_t) override { Open(); }
  void EndStructure() override { --open_; }

 private:
  void Open() {
    ++values;
    ++open_;
    if (open_ > depth) depth = open_;
  }
  std::size_t open_ = 0;
};

class YamlReader {
 public:
  explicit YamlReader(std::string_view text) : text_(text) {
    result_.ok = true;
    openValues_.push_back({&result_.value, std::string()});
    path_.push_back({YamlStepKind::kRoot, 0, std::string(), nullptr});
  }

  BindingResult Run() {
    yaml_parser_t parser;
    yaml_event_t event;
    if (yaml_parser_initialize(&parser) == 0) {
      result_.Fail(Format(FormatMessages::kYamlParserError, "memory error", 0, 0));
      return std::move(result_);
    }
    yaml_parser_set_encoding(&parser, YAML_UTF8_ENCODING);
    // The parser refuses a null input even when it is empty.
    const char* input = text_.data() != nullptr ? text_.data() : "";
    yaml_parser_set_input_string(&parser, reinterpret_cast<const unsigned char*>(input),
                                 text_.size());
    int parsed = yaml_parser_parse(&parser, &event);
    while (parsed != 0 && parser.error == YAML_NO_ERROR && event.type != YAML_STREAM_END_EVENT) {
      Handle(event);
      yaml_event_delete(&event);
      if (!result_.ok) {
        parsed = 0;
        break;
      }
      parsed = yaml_parser_parse(&parser, &event);
    }
    if (result_.ok && parser.error != YAML_NO_ERROR) {
      result_.Fail(Format(FormatMessages::kYamlParserError,
                          parser.problem != nullptr ? parser.problem : "",
                          static_cast<std::uint64_t>(parser.problem_mark.line),
                          static_cast<std::uint64_t>(parser.problem_mark.column)));
    }
    if (parsed != 0) yaml_event_delete(&event);
    yaml_parser_delete(&parser);
    return std::move(result_);
  }

 private:
  void Handle(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_STREAM_START_EVENT:
      case YAML_DOCUMENT_END_EVENT:
      case YAML_STREAM_END_EVENT:
      case YAML_NO_EVENT:
        return;
      case YAML_DOCUMENT_START_EVENT:
        if (documents_++ > 0) result_.Fail(FormatMessages::kYamlMultiDocument);
        return;
      default:
        break;
    }
    if (openValues_.empty()) return;  // nothing can follow a finished root value

    // Choose the target. A key is due only when the innermost open structure itself
    // is the target: a member or element chosen here may be a structure from an
    // earlier repeated key, and it receives the node as a value.
    bool keyDue = false;
    BindingProperty& inner = *openValues_.back().value;
    if (inner.Is(ValueKind::kCollection) && event.type != YAML_SEQUENCE_END_EVENT) {
      const std::size_t index = inner.Size();
      Push(inner.Append(), {YamlStepKind::kElement, index, std::string(), nullptr});
    } else if (inner.Is(ValueKind::kStructure) && hasPendingKey_) {
      hasPendingKey_ = false;
      BindingProperty& member = inner.Member(pendingKey_);
      Push(member, {YamlStepKind::kMember, 0, std::move(pendingKey_), nullptr});
      pendingKey_.clear();
    } else {
      keyDue = inner.Is(ValueKind::kStructure) && event.type != YAML_MAPPING_END_EVENT;
    }
    BindingProperty& target = *openValues_.back().value;

    switch (event.type) {
      case YAML_SCALAR_EVENT:
        Scalar(event, target, keyDue);
        return;
      case YAML_SEQUENCE_START_EVENT:
      case YAML_MAPPING_START_EVENT:
        Start(event, target, keyDue);
        return;
      case YAML_SEQUENCE_END_EVENT:
      case YAML_MAPPING_END_EVENT:
        Pop();
        return;
      case YAML_ALIAS_EVENT:
        Alias(event, target, keyDue);
        return;
      default:
        return;
    }
  }

  void Scalar(const yaml_event_t& event, BindingProperty& target, bool keyDue) {
    const auto& scalar = event.data.scalar;
    const char* tag = reinterpret_cast<const char*>(scalar.tag);
    const std::string_view text(reinterpret_cast<const char*>(scalar.value), scalar.length);
    const char* anchor = reinterpret_cast<const char*>(scalar.anchor);
    if (keyDue) {
      if (tag != nullptr && tag != kTagString) {
        FailAt(FormatMessages::kYamlInvalidKey, event);
        return;
      }
      pendingKey_.assign(text);
      hasPendingKey_ = true;
      if (anchor != nullptr) {
        EnterAnchor(anchor, YamlAnchorTarget{true, std::string(text), nullptr}, event);
      }
      return;
    }
    ++directValues_;
    std::string failure;
    if (!TypeYamlScalar(target, tag, text,
                        scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                            scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE,
                        failure)) {
      result_.Fail(failure);
      return;
    }
    if (anchor != nullptr) {
      EnterAnchor(anchor, YamlAnchorTarget{false, std::string(), CurrentPath()}, event);
    }
    if (result_.ok) Pop();
  }

  void Start(const yaml_event_t& event, BindingProperty& target, bool keyDue) {
    const bool sequence = event.type == YAML_SEQUENCE_START_EVENT;
    if (keyDue) {
      FailAt(sequence ? FormatMessages::kYamlUnexpectedSequence
                      : FormatMessages::kYamlUnexpectedMapping,
             event);
      return;
    }
    // Every entry below the target is an open container.
    if (openValues_.size() - 1 >= kMaxNestingDepth) {
      FailAt(FormatMessages::kYamlNestingTooDeep, event);
      return;
    }
    ++directValues_;
    if (sequence) {
      target.MakeCollection();
    } else {
      target.MakeStructure();
    }
    const yaml_char_t* anchor =
        sequence ? event.data.sequence_start.anchor : event.data.mapping_start.anchor;
    if (anchor != nullptr) {
      const char* name = reinterpret_cast<const char*>(anchor);
      EnterAnchor(name, YamlAnchorTarget{false, std::string(), CurrentPath()}, event);
      openValues_.back().anchor = name;
    }
  }

  void Alias(const yaml_event_t& event, BindingProperty& target, bool keyDue) {
    const char* name = reinterpret_cast<const char*>(event.data.alias.anchor);
    for (const YamlOpenValue& open : openValues_) {
      if (open.anchor == name) {
        FailAt(FormatMessages::kYamlCyclicAlias, event, name);
        return;
      }
    }
    const auto found = anchors_.find(name);
    if (found == anchors_.end()) {
      FailAt(FormatMessages::kYamlUndefinedAlias, event, name);
      return;
    }
    const YamlAnchorTarget& anchor = found->second;
    if (keyDue) {
      // An alias as a key: the text of a key anchor, or an anchored string value.
      const BindingProperty* value = anchor.isKey ? nullptr : &Walk(anchor.path);
      if (anchor.isKey) {
        pendingKey_ = anchor.keyText;
      } else if (value->Is(ValueKind::kString)) {
        pendingKey_.assign(value->GetString());
      } else {
        FailAt(FormatMessages::kYamlInvalidKey, event);
        return;
      }
      hasPendingKey_ = true;
      return;
    }
    ++directValues_;
    if (anchor.isKey) {
      target.SetString(anchor.keyText);
    } else {
      const BindingProperty& source = Walk(anchor.path);
      ValueMeasure measure;
      source.Visit(measure);
      if (openValues_.size() - 1 + measure.depth > kMaxNestingDepth) {
        FailAt(FormatMessages::kYamlNestingTooDeep, event);
        return;
      }
      aliasValues_ += measure.values;
      if (aliasValues_ > kAliasValuesPerValue * directValues_ + kAliasValuesAllowance) {
        FailAt(FormatMessages::kYamlAliasBudget, event);
        return;
      }
      target.CopyFrom(source);
    }
    Pop();
  }

  void EnterAnchor(const char* name, YamlAnchorTarget target, const yaml_event_t& event) {
    // Anchor names are never redefined, even after the first one's branch has closed.
    if (!anchors_.try_emplace(name, std::move(target)).second) {
      FailAt(FormatMessages::kYamlDuplicateAnchor, event, name);
    }
  }

  // The shared node of the innermost path step, building missing ancestors.
  std::shared_ptr<const YamlPathNode> CurrentPath() {
    std::size_t first = path_.size();
    while (first > 0 && path_[first - 1].node == nullptr) --first;
    for (std::size_t i = first; i < path_.size(); ++i) {
      YamlPathStep& step = path_[i];
      step.node = std::make_shared<const YamlPathNode>(
          YamlPathNode{i > 0 ? path_[i - 1].node : nullptr, step.kind, step.index, step.key});
    }
    return path_.back().node;
  }

  const BindingProperty& Walk(const std::shared_ptr<const YamlPathNode>& path) const {
    std::vector<const YamlPathNode*> steps;
    for (const YamlPathNode* node = path.get(); node != nullptr; node = node->parent.get()) {
      steps.push_back(node);
    }
    const BindingProperty* value = &result_.value;
    for (auto it = steps.rbegin(); it != steps.rend(); ++it) {
      const YamlPathNode& step = **it;
      if (step.kind == YamlStepKind::kElement) {
        value = &value->At(step.index);
      } else if (step.kind == YamlStepKind::kMember) {
        value = &value->Find(step.key);
      }
    }
    return *value;
  }

  void Push(BindingProperty& value, YamlPathStep step) {
    openValues_.push_back({&value, std::string()});
    path_.push_back(std::move(step));
  }
  void Pop() {
    if (openValues_.empty()) return;
    openValues_.pop_back();
    path_.pop_back();
  }

  void FailAt(const char* message, const yaml_event_t& event) {
    result_.Fail(Format(message, static_cast<std::uint64_t>(event.start_mark.line + 1),
                        static_cast<std::uint64_t>(event.start_mark.column + 1)));
  }
  void FailAt(const char* message, const yaml_event_t& event, const char* name) {
    result_.Fail(Format(message, name, static_cast<std::uint64_t>(event.start_mark.line + 1),
                        static_cast<std::uint64_t>(event.start_mark.column + 1)));
  }

  std::string_view text_;
  BindingResult result_;
  std::vector<YamlOpenValue> openValues_;
  std::vector<YamlPathStep> path_;
  // An explicit flag, so that an empty key is told apart from no key.
  std::string pendingKey_;
  bool hasPendingKey_ = false;
  std::unordered_map<std::string, YamlAnchorTarget> anchors_;
  int documents_ = 0;
  std::uint64_t directValues_ = 0;
  std::uint64_t aliasValues_ = 0;
};

}  // namespace
}  // namespace detail

BindingResult ReadYaml(std::string_view text) {
  detail::YamlReader reader(text);
  return reader.Run();
}

bool IsYamlText(std::string_view text) {
  const std::size_t first = text.find_first_not_of(' ');
  return first != std::string_view::npos && text.substr(first).starts_with("---");
}

}  // namespace Kavren

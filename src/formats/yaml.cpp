// ReadYaml: libyaml's events turned into binding values, with anchors and aliases.
#include "formats/yaml.h"

#include <yaml.h>

#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <forward_list>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/structure_builder.h"
#include "binding/text_hash.h"
#include "formats/limits.h"
#include "formats/messages.h"
#include "formats/yaml_scalar.h"
#include "util/format.h"

namespace Kavren {
namespace detail {
namespace {

constexpr std::string_view kTagString = "tag:yaml.org,2002:str";

// Alias copies may add this many bytes per byte of text, plus a fixed allowance, counted
// as they expand (kCellBytes per value, and every text byte at every use), so a small text
// cannot expand into an enormous value, neither in memory nor once written or converted.
constexpr std::uint64_t kAliasBytesPerTextByte = 32;
constexpr std::uint64_t kAliasBytesAllowance = std::uint64_t{1} << 20;
constexpr std::uint64_t kCellBytes = 16;

enum class YamlStepKind : std::uint8_t { kRoot, kElement, kMember };

// One step of a path from the root, shared between the paths of all anchors that
// pass through it, so entering an anchor costs no copy of the path. Nodes live as
// long as the reader; only anchors build them.
struct YamlPathNode {
  const YamlPathNode* parent;
  YamlStepKind kind;
  std::size_t index;
  std::string key;
};

// What an anchor refers to: a mapping key's text, or the value at a path.
struct YamlAnchorTarget {
  bool isKey = false;
  std::string keyText;
  const YamlPathNode* path = nullptr;
  // The anchored container is open now (an alias to it is cyclic).
  bool open = false;
};

// Anchor names come from the document: under the keyed hash a sender cannot choose
// names that all land in one bucket of the anchor table.
struct YamlAnchorNameHash {
  std::size_t operator()(const std::string& name) const noexcept { return TextHash(name); }
};

// One open value together with the path step that leads to it from its parent. A
// member step's key lives in the reader's key stack at `index`, `keyLength` bytes
// long, so following a member costs no string of its own.
struct YamlFrame {
  BindingProperty* value;
  std::size_t index;  // element index, or the key's offset in the key stack
  std::size_t keyLength;
  YamlStepKind kind;
  bool anchored;             // an open container carrying an anchor
  const YamlPathNode* node;  // built when an anchor needs it
};

// Measures the expanded size of a tree (kCellBytes per value plus the bytes of its
// texts, blobs and member keys) and its container depth (a scalar has depth 0).
class ValueMeasure final : public BindingVisitor {
 public:
  std::uint64_t bytes = 0;
  std::size_t depth = 0;

  void VisitEmpty() override { bytes += kCellBytes; }
  void VisitBool(bool) override { bytes += kCellBytes; }
  void VisitSigned(std::int64_t) override { bytes += kCellBytes; }
  void VisitUnsigned(std::uint64_t) override { bytes += kCellBytes; }
  void VisitFloat(double) override { bytes += kCellBytes; }
  void VisitString(std::string_view text) override { bytes += kCellBytes + text.size(); }
  void VisitBlob(std::span<const std::uint8_t> blob) override { bytes += kCellBytes + blob.size(); }
  void VisitEnum(BindingEnumValue) override { bytes += kCellBytes; }
  void BeginCollection(std::size_t) override { Open(); }
  void EndCollection() override { --open_; }
  void BeginStructure(std::size_t) override { Open(); }
  void BeginMember(std::string_view key) override { bytes += key.size(); }
  void EndStructure() override { --open_; }

 private:
  void Open() {
    bytes += kCellBytes;
    ++open_;
    if (open_ > depth) depth = open_;
  }
  std::size_t open_ = 0;
};

// libyaml's parser over one text and the event it produced last. Both are released by
// this owner on every path out of a read, an exception unwinding through the reader
// included.
class YamlParser {
 public:
  explicit YamlParser(std::string_view text) {
    if (yaml_parser_initialize(&parser_) == 0) return;
    initialized_ = true;
    yaml_parser_set_encoding(&parser_, YAML_UTF8_ENCODING);
    // The parser refuses a null input even when it is empty.
    const char* input = text.data() != nullptr ? text.data() : "";
    yaml_parser_set_input_string(&parser_, reinterpret_cast<const unsigned char*>(input),
                                 text.size());
  }
  ~YamlParser() {
    DeleteEvent();
    if (initialized_) yaml_parser_delete(&parser_);
  }
  YamlParser(const YamlParser&) = delete;
  YamlParser& operator=(const YamlParser&) = delete;

  [[nodiscard]] bool Initialized() const { return initialized_; }
  /// Releases the current event and parses the next one; false at a parser error.
  bool Next() {
    DeleteEvent();
    hasEvent_ = yaml_parser_parse(&parser_, &event_) != 0;
    return hasEvent_ && parser_.error == YAML_NO_ERROR;
  }
  [[nodiscard]] const yaml_event_t& Event() const { return event_; }
  [[nodiscard]] const yaml_parser_t& State() const { return parser_; }

 private:
  void DeleteEvent() {
    if (!hasEvent_) return;
    yaml_event_delete(&event_);
    hasEvent_ = false;
  }

  yaml_parser_t parser_{};
  yaml_event_t event_{};
  bool initialized_ = false;
  bool hasEvent_ = false;
};

class YamlReader {
 public:
  explicit YamlReader(std::string_view text) : text_(text) {
    result_.ok = true;
    frames_.reserve(kInitialDepth);
    frames_.push_back({&result_.value, 0, 0, YamlStepKind::kRoot, false, nullptr});
  }

  BindingResult Run() {
    YamlParser parser(text_);
    if (!parser.Initialized()) {
      Fail(Format(FormatMessages::kYamlParserError, "memory error", 0, 0));
      return std::move(result_);
    }
    while (parser.Next() && parser.Event().type != YAML_STREAM_END_EVENT) {
      try {
        Handle(parser.Event());
      } catch (const ValueLimitError& limit) {
        FailAt(FormatMessages::kYamlValueLimit, parser.Event(), limit.what());
      }
      if (!result_.ok) break;
    }
    const yaml_parser_t& state = parser.State();
    if (result_.ok && state.error != YAML_NO_ERROR) {
      Fail(Format(FormatMessages::kYamlParserError, state.problem != nullptr ? state.problem : "",
                  static_cast<std::uint64_t>(state.problem_mark.line),
                  static_cast<std::uint64_t>(state.problem_mark.column)));
    }
    if (result_.ok) structures_.CloseAll();
    return std::move(result_);
  }

 private:
  // Frames reserved up front: ordinary documents never grow the stack.
  static constexpr std::size_t kInitialDepth = 32;

  void Handle(const yaml_event_t& event) {
    switch (event.type) {
      case YAML_STREAM_START_EVENT:
      case YAML_DOCUMENT_END_EVENT:
      case YAML_STREAM_END_EVENT:
      case YAML_NO_EVENT:
        return;
      case YAML_DOCUMENT_START_EVENT:
        if (documents_++ > 0) Fail(FormatMessages::kYamlMultiDocument);
        return;
      default:
        break;
    }
    if (frames_.empty()) return;  // nothing can follow a finished root value

    // Choose the target. A key is due only when the innermost open structure itself
    // is the target: a member or element chosen here may be a structure from an
    // earlier repeated key, and it receives the node as a value.
    bool keyDue = false;
    BindingProperty& inner = *frames_.back().value;
    if (inner.Is(ValueKind::kCollection) && event.type != YAML_SEQUENCE_END_EVENT) {
      const std::size_t index = inner.Size();
      frames_.push_back({&inner.Append(), index, 0, YamlStepKind::kElement, false, nullptr});
    } else if (inner.Is(ValueKind::kStructure) && hasPendingKey_) {
      hasPendingKey_ = false;
      const std::size_t length = keys_.size() - pendingKey_;
      BindingProperty& member = structures_.Member(std::string_view(keys_).substr(pendingKey_));
      frames_.push_back({&member, pendingKey_, length, YamlStepKind::kMember, false, nullptr});
    } else {
      keyDue = inner.Is(ValueKind::kStructure) && event.type != YAML_MAPPING_END_EVENT;
    }
    BindingProperty& target = *frames_.back().value;

    switch (event.type) {
      case YAML_SCALAR_EVENT:
        Scalar(event, target, keyDue);
        return;
      case YAML_SEQUENCE_START_EVENT:
      case YAML_MAPPING_START_EVENT:
        Start(event, target, keyDue);
        return;
      case YAML_SEQUENCE_END_EVENT:
        Pop();
        return;
      case YAML_MAPPING_END_EVENT:
        structures_.Close();
        Pop();
        return;
      case YAML_ALIAS_EVENT:
        Alias(event, target, keyDue);
        return;
      default:
        return;
    }
  }

  // The key of the innermost mapping's next member; it stays on the key stack while
  // that member is open.
  void SetPendingKey(std::string_view key) {
    if (hasPendingKey_) keys_.resize(pendingKey_);
    pendingKey_ = keys_.size();
    keys_.append(key);
    hasPendingKey_ = true;
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
      SetPendingKey(text);
      if (anchor != nullptr) {
        EnterAnchor(anchor, YamlAnchorTarget{true, std::string(text), nullptr}, event);
      }
      return;
    }
    const bool quoted = scalar.style == YAML_SINGLE_QUOTED_SCALAR_STYLE ||
                        scalar.style == YAML_DOUBLE_QUOTED_SCALAR_STYLE;
    if (tag == nullptr && !quoted) {
      TypePlainYamlScalar(target, text);
    } else {
      const MaybeType<Failure, void> typed = TypeYamlScalar(target, tag, text, quoted);
      if (typed.Failed()) {
        Fail(typed.GetFailure().message.View());
        return;
      }
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
    if (frames_.size() - 1 >= kMaxNestingDepth) {
      FailAt(FormatMessages::kYamlNestingTooDeep, event);
      return;
    }
    if (sequence) {
      target.MakeCollection();
    } else {
      target.MakeStructure();
      structures_.Open(target);
    }
    const yaml_char_t* anchor =
        sequence ? event.data.sequence_start.anchor : event.data.mapping_start.anchor;
    if (anchor != nullptr) {
      const char* name = reinterpret_cast<const char*>(anchor);
      YamlAnchorTarget* entered =
          EnterAnchor(name, YamlAnchorTarget{false, std::string(), CurrentPath()}, event);
      // The container's anchor is open while it is, for the cyclic-alias check.
      if (entered != nullptr) {
        YamlFrame& frame = frames_.back();
        if (frame.anchored) CloseAnchor();
        frame.anchored = true;
        entered->open = true;
        openAnchors_.push_back(entered);
      }
    }
  }

  void Alias(const yaml_event_t& event, BindingProperty& target, bool keyDue) {
    const char* name = reinterpret_cast<const char*>(event.data.alias.anchor);
    const auto found = anchors_.find(name);
    if (found != anchors_.end() && found->second.open) {
      FailAt(FormatMessages::kYamlCyclicAlias, event, name);
      return;
    }
    if (found == anchors_.end()) {
      FailAt(FormatMessages::kYamlUndefinedAlias, event, name);
      return;
    }
    const YamlAnchorTarget& anchor = found->second;
    if (keyDue) {
      // An alias as a key: the text of a key anchor, or an anchored string value.
      const BindingProperty* value = anchor.isKey ? nullptr : &WalkCounted(anchor.path);
      if (!anchor.isKey && !value->Is(ValueKind::kString)) {
        FailAt(FormatMessages::kYamlInvalidKey, event);
        return;
      }
      const std::string_view key = anchor.isKey ? anchor.keyText : value->GetString();
      aliasBytes_ += key.size();
      if (WithinAliasBudget(event)) SetPendingKey(key);
      return;
    }
    if (anchor.isKey) {
      aliasBytes_ += kCellBytes + anchor.keyText.size();
      if (!WithinAliasBudget(event)) return;
      target.SetString(anchor.keyText);
    } else {
      BindingProperty& source = WalkCounted(anchor.path);
      // The copy and the measure below read the value with the ordinary interface.
      structures_.Settle(source);
      ValueMeasure measure;
      source.Visit(measure);
      if (frames_.size() - 1 + measure.depth > kMaxNestingDepth) {
        FailAt(FormatMessages::kYamlNestingTooDeep, event);
        return;
      }
      aliasBytes_ += measure.bytes;
      if (!WithinAliasBudget(event)) return;
      target.CopyFrom(source);
    }
    Pop();
  }

  // Enters an anchor; its entry in the table, or null (and the read failed) when the name
  // is taken.
  YamlAnchorTarget* EnterAnchor(const char* name, YamlAnchorTarget&& target,
                                const yaml_event_t& event) {
    // Anchor names are never redefined, even after the first one's branch has closed.
    const auto [entry, inserted] = anchors_.try_emplace(name, std::move(target));
    if (!inserted) {
      FailAt(FormatMessages::kYamlDuplicateAnchor, event, name);
      return nullptr;
    }
    return &entry->second;
  }

  void CloseAnchor() {
    openAnchors_.back()->open = false;
    openAnchors_.pop_back();
  }

  // The shared node of the innermost path step, building missing ancestors.
  const YamlPathNode* CurrentPath() {
    std::size_t first = frames_.size();
    while (first > 0 && frames_[first - 1].node == nullptr) --first;
    for (std::size_t i = first; i < frames_.size(); ++i) {
      YamlFrame& frame = frames_[i];
      std::string key;
      if (frame.kind == YamlStepKind::kMember) key.assign(keys_, frame.index, frame.keyLength);
      frame.node = &nodes_.emplace_front(YamlPathNode{i > 0 ? frames_[i - 1].node : nullptr,
                                                      frame.kind, frame.index, std::move(key)});
    }
    return frames_.back().node;
  }

  bool WithinAliasBudget(const yaml_event_t& event) {
    if (aliasBytes_ <= kAliasBytesPerTextByte * text_.size() + kAliasBytesAllowance) return true;
    FailAt(FormatMessages::kYamlAliasBudget, event);
    return false;
  }

  // Walk, with the steps walked counted against the alias budget (a cell each): an anchor
  // deep in the tree must not make every one of many short aliases cost its depth.
  BindingProperty& WalkCounted(const YamlPathNode* path) {
    BindingProperty& value = Walk(path);
    aliasBytes_ += kCellBytes * walkSteps_.size();
    return value;
  }

  // The value at the end of `path` in this reader's tree (structures on the way may be
  // open), or a value of its own that stays empty when the path leads nowhere now.
  BindingProperty& Walk(const YamlPathNode* path) {
    walkSteps_.clear();
    for (const YamlPathNode* node = path; node != nullptr; node = node->parent) {
      walkSteps_.push_back(node);
    }
    BindingProperty* value = &result_.value;
    for (auto it = walkSteps_.rbegin(); it != walkSteps_.rend() && value != nullptr; ++it) {
      const YamlPathNode& step = **it;
      if (step.kind == YamlStepKind::kElement) {
        const std::span<BindingProperty> elements = value->Elements();
        value = step.index < elements.size() ? &elements[step.index] : nullptr;
      } else if (step.kind == YamlStepKind::kMember) {
        // Members are cells of their own: the builder's const lookup finds this tree's cell.
        value = const_cast<BindingProperty*>(structures_.Find(*value, step.key));
      }
    }
    if (value != nullptr) return *value;
    nowhere_.Reset();
    return nowhere_;
  }

  void Pop() {
    if (frames_.empty()) return;
    const YamlFrame& frame = frames_.back();
    if (frame.anchored) CloseAnchor();
    if (frame.kind == YamlStepKind::kMember) keys_.resize(frame.index);
    frames_.pop_back();
  }

  // Every failure resets the value, so the open structures are left as they are.
  void Fail(std::string_view message) {
    structures_.Abandon();
    result_.Fail(message);
  }
  void FailAt(const char* message, const yaml_event_t& event) {
    Fail(Format(message, static_cast<std::uint64_t>(event.start_mark.line + 1),
                static_cast<std::uint64_t>(event.start_mark.column + 1)));
  }
  void FailAt(const char* message, const yaml_event_t& event, const char* name) {
    Fail(Format(message, name, static_cast<std::uint64_t>(event.start_mark.line + 1),
                static_cast<std::uint64_t>(event.start_mark.column + 1)));
  }

  std::string_view text_;
  BindingResult result_;
  // The open values from the root to the innermost one, each with its path step.
  std::vector<YamlFrame> frames_;
  // The keys of the open member steps, back to back, then the pending key (from offset
  // pendingKey_). An explicit flag, so that an empty key is told apart from no key.
  std::string keys_;
  std::size_t pendingKey_ = 0;
  bool hasPendingKey_ = false;
  std::unordered_map<std::string, YamlAnchorTarget, YamlAnchorNameHash> anchors_;
  // The anchors of the open anchored containers, innermost last.
  std::vector<YamlAnchorTarget*> openAnchors_;
  std::forward_list<YamlPathNode> nodes_;  // allocates nothing until an anchor
  std::vector<const YamlPathNode*> walkSteps_;
  int documents_ = 0;
  // Fills the mappings; every structure of the tree is in key order once the read ends.
  StructureBuilder structures_;
  // What a path that leads nowhere now yields (a copy of it is empty).
  BindingProperty nowhere_;
  std::uint64_t aliasBytes_ = 0;
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

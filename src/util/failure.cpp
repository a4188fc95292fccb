// Failure messages and the text of an outcome.
#include "util/failure.h"

#include "util/format.h"

namespace Kavren {

FailureMessage::FailureMessage(const char* text)
    : text_(text == nullptr ? "" : text), owned_(text != nullptr) {}

FailureMessage::FailureMessage(std::string text) : text_(std::move(text)), owned_(true) {}

FailureMessage::FailureMessage(std::string_view text) : text_(text), owned_(true) {}

FailureMessage FailureMessage::Constant(const char* text) {
  FailureMessage message;
  message.constant_ = text;
  return message;
}

std::string_view FailureMessage::View() const {
  if (owned_) return text_;
  return constant_ == nullptr ? std::string_view() : std::string_view(constant_);
}

const char* FailureMessage::CStr() const {
  if (owned_) return text_.c_str();
  return constant_ == nullptr ? "" : constant_;
}

std::string OutcomeText(const MaybeType<Failure, void>& outcome) { return Format("%1", outcome); }

}  // namespace Kavren

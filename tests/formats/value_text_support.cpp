// Test helpers: a kind-revealing text of a value, and reading files as bytes.
#include "formats/value_text_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>

#include "formats/json.h"

namespace Kavren::Testing {
namespace {

class KindTextVisitor final : public BindingVisitor {
 public:
  std::string out;

  void VisitEmpty() override { out += "null"; }
  void VisitBool(bool value) override { out += value ? "true" : "false"; }
  void VisitSigned(std::int64_t value) override { out += "s" + std::to_string(value); }
  void VisitUnsigned(std::uint64_t value) override { out += "u" + std::to_string(value); }
  void VisitFloat(double value) override {
    char text[64];
    std::snprintf(text, sizeof text, "f%.17g", value);
    out += text;
  }
  void VisitString(std::string_view text) override {
    out += '"';
    out += text;
    out += '"';
  }
  void VisitBlob(std::span<const std::uint8_t> bytes) override {
    BindingProperty blob;
    blob.SetBlobCopy(bytes);
    BindingProperty holder;
    holder.Append().CopyFrom(blob);
    const std::string json = WriteJson(holder);  // ["base64"]
    out += "b" + json.substr(1, json.size() - 2);
  }
  void VisitEnum(BindingEnumValue value) override { out += "e" + std::to_string(value.value); }
  void BeginCollection(std::size_t) override { out += '['; }
  void BeginItem(std::size_t index) override {
    if (index > 0) out += ',';
  }
  void EndCollection() override { out += ']'; }
  void BeginStructure(std::size_t) override {
    out += '{';
    first_ = true;
  }
  void BeginMember(std::string_view key) override {
    if (!first_) out += ',';
    first_ = false;
    out += key;
    out += ':';
  }
  void EndMember(std::string_view) override { first_ = false; }
  void EndStructure() override { out += '}'; }

 private:
  bool first_ = true;
};

}  // namespace

std::string KindText(const BindingProperty& value) {
  KindTextVisitor visitor;
  value.Visit(visitor);
  return visitor.out;
}

BindingProperty ReopenedObjectsMerged(bool signedNumbers) {
  const auto number = [signedNumbers](BindingProperty& value, int n) {
    if (signedNumbers) {
      value.SetSigned(n);
    } else {
      value.SetUnsigned(static_cast<unsigned>(n));
    }
  };
  BindingProperty expected;
  BindingProperty& a = expected.Member("a");
  for (int i = 0; i < 20; ++i) number(a.Member("k" + std::to_string(i)), i);
  number(a.Member("x"), 1);
  a.Member("k3").SetString("again");
  number(a.Member("n").Member("q"), 1);
  number(a.Member("n").Member("p"), 2);
  a.Member("k19").MakeStructure();
  number(expected.Member("b"), 0);
  return expected;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  EXPECT_TRUE(file.good()) << "cannot open " << path;
  std::ostringstream bytes;
  bytes << file.rdbuf();
  return bytes.str();
}

}  // namespace Kavren::Testing

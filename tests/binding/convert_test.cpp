// Native-value conversion: failure messages, accepted inputs, records, host values.
#include "binding/convert.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "binding/host_value.h"

namespace Kavren::ConvertTesting {
enum class State : std::int32_t { kNone, kRunning, kCancelling, kCancelled, kSucceeded, kFailed };
enum class Narrow : std::int8_t { kLow = -2, kHigh = 100 };
enum class Middle : std::int16_t { kOne = 1, kBig = -30000 };
enum class Wide : std::int64_t { kMinus = -1, kTwo = 2 };
struct Point {
  std::int32_t x = 0;
  std::string label;
};
struct Strict {
  std::int32_t id = 0;
};
struct Sparse {
  std::string kept;
  std::string dropped;
  std::optional<std::int32_t> maybe;
};
struct Unregistered {
  std::int32_t id = 0;
};
struct Everything {
  bool flag = false;
  std::int8_t i8 = 0;
  std::uint8_t u8 = 0;
  std::int16_t i16 = 0;
  std::uint16_t u16 = 0;
  std::int32_t i32 = 0;
  std::uint32_t u32 = 0;
  std::int64_t i64 = 0;
  std::uint64_t u64 = 0;
  float f32 = 0;
  double f64 = 0;
  std::string text;
  BindingProperty object;
  std::vector<std::uint8_t> blob;
  State state = State::kNone;
  Narrow narrow = Narrow::kLow;
  Middle middle = Middle::kOne;
  Wide wide = Wide::kTwo;
  Point point;
  std::vector<bool> bits;
  std::vector<std::int16_t> shorts;
  std::vector<std::string> words;
  std::vector<std::vector<std::uint8_t>> blobs;
  std::vector<Point> points;
  std::vector<State> states;
  std::vector<std::vector<std::int32_t>> grid;
  std::unordered_map<std::string, double> weights;
  std::unordered_map<std::string, Point> named;
  std::unordered_map<std::string, std::vector<std::string>> lists;
  std::optional<std::string> note;
};
}  // namespace Kavren::ConvertTesting

HXA_BINDING_ENUM(Kavren::ConvertTesting::State);
HXA_BINDING_ENUM(Kavren::ConvertTesting::Narrow);
HXA_BINDING_ENUM(Kavren::ConvertTesting::Middle);
HXA_BINDING_ENUM(Kavren::ConvertTesting::Wide);
HXA_BINDING_STRUCT(Kavren::ConvertTesting::Point);
HXA_BINDING_STRUCT(Kavren::ConvertTesting::Strict);
HXA_BINDING_STRUCT(Kavren::ConvertTesting::Sparse);
HXA_BINDING_STRUCT(Kavren::ConvertTesting::Unregistered);
HXA_BINDING_STRUCT(Kavren::ConvertTesting::Everything);

namespace Kavren {
namespace {

using namespace ConvertTesting;

class ConvertTest : public ::testing::Test {
 protected:
  ConvertTest() {
    registry_.RegisterEnum<State>("BindingAsyncState")
        .AddValue("None", 0)
        .AddValue("Running", 1)
        .AddValue("Cancelling", 2)
        .AddValue("Cancelled", 3)
        .AddValue("Succeeded", 4)
        .AddValue("Failed", 5);
    registry_.RegisterEnum<Narrow>("Narrow").AddValue("Low", -2).AddValue("High", 100);
    registry_.RegisterEnum<Middle>("Middle").AddValue("One", 1).AddValue("Big", -30000);
    registry_.RegisterEnum<Wide>("Wide").AddValue("Minus", -1).AddValue("Two", 2);
    registry_.RegisterStruct<Point>("Point")
        .AddField("x", &Point::x)
        .AddField("label", &Point::label);
    registry_.RegisterStruct<Strict>("Strict").AddField("id", &Strict::id, "", kFieldRequired);
    registry_.RegisterStruct<Sparse>("Sparse")
        .AddField("kept", &Sparse::kept)
        .AddField("dropped", &Sparse::dropped, "", kFieldOmitEmpty)
        .AddField("maybe", &Sparse::maybe);
    registry_.RegisterStruct<Everything>("Everything")
        .AddField("flag", &Everything::flag)
        .AddField("i8", &Everything::i8)
        .AddField("u8", &Everything::u8)
        .AddField("i16", &Everything::i16)
        .AddField("u16", &Everything::u16)
        .AddField("i32", &Everything::i32)
        .AddField("u32", &Everything::u32)
        .AddField("i64", &Everything::i64)
        .AddField("u64", &Everything::u64)
        .AddField("f32", &Everything::f32)
        .AddField("f64", &Everything::f64)
        .AddField("text", &Everything::text)
        .AddField("object", &Everything::object)
        .AddField("blob", &Everything::blob)
        .AddField("state", &Everything::state)
        .AddField("narrow", &Everything::narrow)
        .AddField("middle", &Everything::middle)
        .AddField("wide", &Everything::wide)
        .AddField("point", &Everything::point)
        .AddField("bits", &Everything::bits)
        .AddField("shorts", &Everything::shorts)
        .AddField("words", &Everything::words)
        .AddField("blobs", &Everything::blobs)
        .AddField("points", &Everything::points)
        .AddField("states", &Everything::states)
        .AddField("grid", &Everything::grid)
        .AddField("weights", &Everything::weights)
        .AddField("named", &Everything::named)
        .AddField("lists", &Everything::lists)
        .AddField("note", &Everything::note);
  }

  template <class T>
  std::string Failure(const BindingProperty& input, const char* name = "x") {
    BindingResult status;
    T target{};
    FromValue(status, target, input, name, registry_);
    return status.ErrorText();
  }

  template <class T>
  T Accept(const BindingProperty& input) {
    BindingResult status;
    T target{};
    FromValue(status, target, input, "x", registry_);
    EXPECT_TRUE(status.ok) << status.ErrorText();
    return target;
  }

  BindingRegistry registry_;
};

BindingProperty Text(const char* text) {
  BindingProperty value;
  value.SetString(text);
  return value;
}
BindingProperty Signed(std::int64_t number) {
  BindingProperty value;
  value.SetSigned(number);
  return value;
}
BindingProperty Unsigned(std::uint64_t number) {
  BindingProperty value;
  value.SetUnsigned(number);
  return value;
}
BindingProperty Floating(double number) {
  BindingProperty value;
  value.SetFloat(number);
  return value;
}
BindingProperty Bool(bool flag) {
  BindingProperty value;
  value.SetBool(flag);
  return value;
}
BindingProperty Blob() {
  BindingProperty value;
  value.SetBlobCopy(std::vector<std::uint8_t>{1, 2});
  return value;
}
BindingProperty Enum(std::int32_t number, const TypeIdentity* identity) {
  BindingProperty value;
  value.SetEnum(number, identity);
  return value;
}
BindingProperty Structure() {
  BindingProperty value;
  value.MakeStructure();
  return value;
}

TEST_F(ConvertTest, EveryFailureMessage) {
  struct Row {
    std::string actual;
    const char* expected;
  };
  const BindingProperty empty;
  const Row rows[] = {
      {Failure<std::int8_t>(empty), "A value for 'x' is required."},
      {Failure<std::string>(empty), "A value for 'x' is required."},
      {Failure<std::vector<bool>>(empty), "A value for 'x' is required."},
      {Failure<Point>(empty, "top"), "A value for 'top' is required."},
      {Failure<std::int32_t>(Bool(true)),
       "Couldn't assign value to 'x' of type int32 because the input is of an invalid type "
       "bool."},
      {Failure<double>(Blob()),
       "Couldn't assign value to 'x' of type double because the input is of an invalid type "
       "blob."},
      {Failure<std::uint16_t>(Structure()),
       "Couldn't assign value to 'x' of type uint16 because the input is of an invalid type "
       "structure."},
      {Failure<std::int16_t>(Text("12a")),
       "Value 12a for 'x' of type int16 is in an incorrect format"},
      {Failure<float>(Text("1.5.")), "Value 1.5. for 'x' of type float is in an incorrect format"},
      {Failure<std::int8_t>(Signed(128)), "Value 128 for 'x' of type int8 is out of range"},
      {Failure<std::uint8_t>(Unsigned(300)), "Value 300 for 'x' of type uint8 is out of range"},
      {Failure<std::uint32_t>(Text("-1")), "Value -1 for 'x' of type uint32 is out of range"},
      {Failure<std::uint64_t>(Text(" -1")), "Value  -1 for 'x' of type uint64 is out of range"},
      {Failure<std::uint64_t>(Signed(-5)), "Value -5 for 'x' of type uint64 is out of range"},
      {Failure<std::int64_t>(Text("99999999999999999999")),
       "Value 99999999999999999999 for 'x' of type int64 is out of range"},
      {Failure<std::int32_t>(Floating(3e9)), "Value 3e+09 for 'x' of type int32 is out of range"},
      {Failure<std::int64_t>(Floating(9223372036854775808.0)),
       "Value 9.22337e+18 for 'x' of type int64 is out of range"},
      {Failure<std::int32_t>(Floating(NAN)), "Value nan for 'x' of type int32 is out of range"},
      {Failure<float>(Floating(1e39)), "Value 1e+39 for 'x' of type float is out of range"},
      {Failure<double>(Text("1e400")), "Value 1e400 for 'x' of type double is out of range"},
      {Failure<std::uint8_t>(Enum(-1, nullptr)), "Value -1 for 'x' of type uint8 is out of range"},
      {Failure<bool>(Text("TRUE")),
       "Value TRUE for 'x' of type bool is in an incorrect format. Options are \"true\", "
       "\"false\", \"1\", \"0\"."},
      {Failure<bool>(Signed(1)),
       "Couldn't assign value to 'x' of type bool because the input is of an invalid type "
       "signed."},
      {Failure<State>(Text("7"), "state"),
       "7 is not a valid BindingAsyncState enumeration value for 'state'."},
      {Failure<State>(Text("running"), "state"),
       "running is not a valid BindingAsyncState enumeration value for 'state'."},
      {Failure<State>(Signed(9), "state"),
       "9 is not a valid BindingAsyncState enumeration value for 'state'."},
      {Failure<State>(Enum(6, nullptr), "state"),
       "6 is not a valid BindingAsyncState enumeration value for 'state'."},
      {Failure<State>(Floating(1.0)),
       "Couldn't assign value to 'x' of enum type because the input is of an invalid type "
       "float."},
      {Failure<std::string>(Enum(9, StaticType::HashCode<State>())),
       "9 is not a valid enumeration value for 'x'."},
      {Failure<std::string>(Signed(1)),
       "Couldn't assign value to 'x' because the input is not a string."},
      {Failure<std::vector<std::uint8_t>>(Text("QU*D")),
       "Couldn't assign string value to 'x' of type blob because the input has invalid base64 "
       "characters."},
      {Failure<std::vector<std::uint8_t>>(Signed(1)),
       "Couldn't assign value to 'x' of type blob because the input is not a blob."},
      {Failure<std::vector<std::int32_t>>(Text("1")),
       "Couldn't assign value to 'x' of type vector because the input not a collection."},
      {Failure<std::unordered_map<std::string, std::int32_t>>(empty),
       "Couldn't assign value to 'x' of type map because the input not a structure."},
      {Failure<Unregistered>(Structure()),
       "Couldn't assign value to 'x' because the input is an unregistered structure or not a "
       "structure at all."},
      {Failure<Point>(Signed(1)),
       "Couldn't assign value to 'x' of type Point because the input not a structure."},
      {Failure<Strict>(Structure()),
       "Couldn't assign value to 'x' of type Strict because the input structure doesn't have "
       "required field 'id'."},
  };
  for (const Row& row : rows) EXPECT_EQ(row.actual, row.expected);

  BindingResult native;
  ToValue(native, Unregistered{}, registry_);
  EXPECT_EQ(native.ErrorText(),
            "Couldn't convert native value because it's an unregistered structure.");
}

TEST_F(ConvertTest, AcceptedScalarInputs) {
  EXPECT_EQ(Accept<std::int16_t>(Text("0x10")), 16);
  EXPECT_EQ(Accept<std::int16_t>(Text("010")), 8);
  EXPECT_EQ(Accept<std::int16_t>(Text("")), 0);
  EXPECT_EQ(Accept<std::int16_t>(Text(" -7")), -7);
  EXPECT_EQ(Accept<std::uint32_t>(Unsigned(4294967295u)), 4294967295u);
  EXPECT_EQ(Accept<std::uint64_t>(Text("18446744073709551615")),
            std::numeric_limits<std::uint64_t>::max());
  EXPECT_EQ(Accept<std::int64_t>(Signed(std::numeric_limits<std::int64_t>::min())),
            std::numeric_limits<std::int64_t>::min());
  EXPECT_EQ(Accept<std::int32_t>(Floating(-2.9)), -2);
  EXPECT_EQ(Accept<std::int32_t>(Enum(5, nullptr)), 5);
  EXPECT_EQ(Accept<double>(Text("2.5")), 2.5);
  EXPECT_EQ(Accept<double>(Text("")), 0.0);
  EXPECT_EQ(Accept<float>(Unsigned(3)), 3.0f);
  EXPECT_TRUE(std::isnan(Accept<double>(Floating(NAN))));
  EXPECT_TRUE(Accept<bool>(Text("true")));
  EXPECT_TRUE(Accept<bool>(Text("1")));
  EXPECT_FALSE(Accept<bool>(Text("0")));
  EXPECT_EQ(Accept<State>(Text("Running")), State::kRunning);
  EXPECT_EQ(Accept<State>(Text("1")), State::kRunning);
  EXPECT_EQ(Accept<State>(Signed(1)), State::kRunning);
  EXPECT_EQ(Accept<State>(Enum(4, StaticType::HashCode<Narrow>())), State::kSucceeded);
  EXPECT_EQ(Accept<std::string>(Enum(3, StaticType::HashCode<State>())), "Cancelled");
  EXPECT_EQ(Accept<std::vector<std::uint8_t>>(Text("QUJD")),
            (std::vector<std::uint8_t>{'A', 'B', 'C'}));
  EXPECT_EQ(Accept<std::vector<std::uint8_t>>(Text("QUI=")), (std::vector<std::uint8_t>{'A', 'B'}));
  EXPECT_EQ(Accept<std::vector<std::uint8_t>>(Text("QQ")), (std::vector<std::uint8_t>{'A'}));
  EXPECT_EQ(Accept<std::vector<std::uint8_t>>(Text("QUJDR")),
            (std::vector<std::uint8_t>{'A', 'B', 'C'}));
  EXPECT_EQ(Accept<std::vector<std::uint8_t>>(Text("QQ==QUJD")), (std::vector<std::uint8_t>{'A'}));
  EXPECT_TRUE(Accept<std::vector<std::uint8_t>>(Text("")).empty());
}

TEST_F(ConvertTest, FailedScalarStoresItsDefault) {
  BindingResult status;
  std::int32_t number = 7;
  FromValue(status, number, Text("zz"), "x", registry_);
  EXPECT_EQ(number, 0);
  // A failed status makes later conversions do nothing.
  number = 7;
  FromValue(status, number, Signed(1), "x", registry_);
  EXPECT_EQ(number, 7);
}

TEST_F(ConvertTest, EnumerationWidths) {
  Everything native;
  native.narrow = Narrow::kLow;
  native.middle = Middle::kBig;
  native.wide = Wide::kMinus;
  BindingResult value;
  ToValue(value, native, registry_);
  ASSERT_TRUE(value.ok) << value.ErrorText();
  EXPECT_EQ(value.value.Find("narrow").GetEnum().value, -2);
  EXPECT_EQ(value.value.Find("narrow").GetEnum().identity, StaticType::HashCode<Narrow>());
  EXPECT_EQ(value.value.Find("middle").GetEnum().value, -30000);
  EXPECT_EQ(value.value.Find("wide").GetEnum().value, -1);

  BindingProperty input;
  input.Member("narrow").SetString("High");
  input.Member("middle").SetSigned(-30000);
  input.Member("wide").SetString("Minus");
  Everything back;
  BindingResult status;
  FromValue(status, back, input, "e", registry_);
  ASSERT_TRUE(status.ok) << status.ErrorText();
  EXPECT_EQ(back.narrow, Narrow::kHigh);
  EXPECT_EQ(back.middle, Middle::kBig);
  // An 8-byte enumeration receives the sign-extended 32-bit value.
  EXPECT_EQ(static_cast<std::int64_t>(back.wide), -1);
}

TEST_F(ConvertTest, RecordFieldsMissingEmptyOmittedAndOptional) {
  Sparse native;
  native.kept = "";
  native.dropped = "";
  BindingResult value;
  ToValue(value, native, registry_);
  ASSERT_TRUE(value.ok);
  EXPECT_TRUE(value.value.Has("kept"));
  EXPECT_EQ(value.value.Find("kept").Kind(), ValueKind::kString);
  EXPECT_FALSE(value.value.Has("dropped"));
  EXPECT_EQ(value.value.Find("maybe").Kind(), ValueKind::kEmpty);

  native.dropped = "here";
  native.maybe = 5;
  BindingResult second;
  ToValue(second, native, registry_);
  EXPECT_EQ(second.value.Find("dropped").GetString(), "here");
  EXPECT_EQ(second.value.Find("maybe").GetSigned(), 5);

  // Missing members leave the native fields as they are; unknown members are ignored.
  BindingProperty input;
  input.Member("kept").SetString("new");
  input.Member("unknown").SetSigned(1);
  Sparse target;
  target.dropped = "old";
  target.maybe = 3;
  BindingResult status;
  FromValue(status, target, input, "s", registry_);
  ASSERT_TRUE(status.ok);
  EXPECT_EQ(target.kept, "new");
  EXPECT_EQ(target.dropped, "old");
  EXPECT_EQ(target.maybe, 3);
}

TEST_F(ConvertTest, RecordFailureKeepsEarlierFieldsAndNamesTheField) {
  BindingProperty input;
  input.Member("i8").SetSigned(5);
  input.Member("u8").SetSigned(-1);
  input.Member("text").SetString("later");
  Everything target;
  BindingResult status;
  FromValue(status, target, input, "e", registry_);
  EXPECT_EQ(status.ErrorText(), "Value -1 for 'u8' of type uint8 is out of range");
  EXPECT_EQ(target.i8, 5);
  EXPECT_EQ(target.text, "");

  // Elements and nested fields are reported under their own field's name.
  BindingProperty nested;
  nested.Member("points").AtGrow(1).Member("x").SetString("q");
  BindingResult nestedStatus;
  FromValue(nestedStatus, target, nested, "e", registry_);
  EXPECT_EQ(nestedStatus.ErrorText(), "Value q for 'x' of type int32 is in an incorrect format");
  BindingProperty elements;
  elements.Member("shorts").AtGrow(0).SetString("70000");
  BindingResult elementStatus;
  FromValue(elementStatus, target, elements, "e", registry_);
  EXPECT_EQ(elementStatus.ErrorText(), "Value 70000 for 'shorts' of type int16 is out of range");
}

TEST_F(ConvertTest, VectorsKeepDefaultsForEmptyElements) {
  BindingProperty input;
  input.AtGrow(2).SetString("true");
  std::vector<bool> bits = Accept<std::vector<bool>>(input);
  EXPECT_EQ(bits, (std::vector<bool>{false, false, true}));
  BindingProperty words;
  words.AtGrow(1).SetString("b");
  EXPECT_EQ(Accept<std::vector<std::string>>(words), (std::vector<std::string>{"", "b"}));
}

// An object target given a value inside itself becomes a copy of that value: the input
// is read before the target's old content is released (long texts and member arrays
// live on the general heap, where the address sanitizer sees any read after release).
TEST_F(ConvertTest, ObjectFromAPartOfItself) {
  const std::string longText(100, 'x');
  BindingProperty target;
  BindingProperty& inner = target.Member("outer").Member("inner");
  for (int i = 0; i < 10; ++i) inner.Member("k" + std::to_string(i)).SetString(longText);
  BindingResult status;
  FromValue(status, target, target.Find("outer").Find("inner"), "object", registry_);
  EXPECT_TRUE(status.ok) << status.ErrorText();
  EXPECT_EQ(target.Size(), 10u);
  EXPECT_EQ(target.Find("k9").GetString(), longText);
}

void FillEverything(Everything& native) {
  native.flag = true;
  native.i8 = -8;
  native.u8 = 200;
  native.i16 = -16000;
  native.u16 = 60000;
  native.i32 = -2000000000;
  native.u32 = 4000000000u;
  native.i64 = std::numeric_limits<std::int64_t>::min();
  native.u64 = std::numeric_limits<std::uint64_t>::max();
  native.f32 = 1.5f;
  native.f64 = -2.25e300;
  native.text = "h\xc3\xa9llo";
  native.object.Member("inner").AtGrow(1).SetString("deep");
  native.blob = {0, 255, 7};
  native.state = State::kCancelling;
  native.narrow = Narrow::kHigh;
  native.middle = Middle::kBig;
  native.wide = Wide::kMinus;
  native.point = {3, "p"};
  native.bits = {true, false, true, true};
  native.shorts = {-1, 2};
  native.words = {"a", "", "c"};
  native.blobs = {{1}, {2, 3}};
  native.points = {{1, "one"}, {2, "two"}};
  native.states = {State::kFailed, State::kRunning};
  native.grid = {{1, 2}, {}, {3}};
  native.weights = {{"a", 0.5}, {"b", 2.0}};
  native.named = {{"k", {9, "nine"}}};
  native.lists = {{"l", {"x", "y"}}};
  native.note = "n";
}

TEST_F(ConvertTest, RoundTripThroughHostValues) {
  Everything native;
  FillEverything(native);
  MaybeType<Kavren::Failure, BindingProperty> converted = ToValue(native, registry_);
  ASSERT_TRUE(converted);
  const BindingProperty& value = converted.Value();

  HostValueHolder host;
  ValueToHost(host.value(), value, &registry_);
  // Enumerations travel by name when the registry knows one.
  bool sawStateName = false;
  for (const Abi::HostStructMember& member : HostMembers(host.value())) {
    if (std::string_view(member.key) == "state") {
      sawStateName = HostText(member.value) == "Cancelling";
      EXPECT_EQ(member.keyOwned, 1);
    }
  }
  EXPECT_TRUE(sawStateName);

  BindingProperty back;
  const MaybeType<Kavren::Failure, void> error = HostToValue(back, host.value(), "body");
  ASSERT_FALSE(error.Failed());

  Everything result;
  BindingResult status;
  FromValue(status, result, back, "body", registry_);
  ASSERT_TRUE(status.ok) << status.ErrorText();
  EXPECT_EQ(result.flag, native.flag);
  EXPECT_EQ(result.i8, native.i8);
  EXPECT_EQ(result.u8, native.u8);
  EXPECT_EQ(result.i16, native.i16);
  EXPECT_EQ(result.u16, native.u16);
  EXPECT_EQ(result.i32, native.i32);
  EXPECT_EQ(result.u32, native.u32);
  EXPECT_EQ(result.i64, native.i64);
  EXPECT_EQ(result.u64, native.u64);
  EXPECT_EQ(result.f32, native.f32);
  EXPECT_EQ(result.f64, native.f64);
  EXPECT_EQ(result.text, native.text);
  EXPECT_EQ(result.object.Find("inner").At(1).GetString(), "deep");
  EXPECT_EQ(result.blob, native.blob);
  EXPECT_EQ(result.state, native.state);
  EXPECT_EQ(result.narrow, native.narrow);
  EXPECT_EQ(result.middle, native.middle);
  EXPECT_EQ(result.wide, native.wide);
  EXPECT_EQ(result.point.x, 3);
  EXPECT_EQ(result.point.label, "p");
  EXPECT_EQ(result.bits, native.bits);
  EXPECT_EQ(result.shorts, native.shorts);
  EXPECT_EQ(result.words, native.words);
  EXPECT_EQ(result.blobs, native.blobs);
  ASSERT_EQ(result.points.size(), 2u);
  EXPECT_EQ(result.points[1].label, "two");
  EXPECT_EQ(result.states, native.states);
  EXPECT_EQ(result.grid, native.grid);
  EXPECT_EQ(result.weights, native.weights);
  ASSERT_EQ(result.named.count("k"), 1u);
  EXPECT_EQ(result.named.at("k").x, 9);
  EXPECT_EQ(result.lists, native.lists);
  EXPECT_EQ(result.note, native.note);
}

TEST_F(ConvertTest, EnumWithoutNameTravelsAsNumber) {
  HostValueHolder host;
  ValueToHost(host.value(), Enum(9, StaticType::HashCode<State>()), &registry_);
  EXPECT_EQ(host.value().type, Abi::kHostValueSigned);
  EXPECT_EQ(HostSigned(host.value()), 9);
  HostValueHolder unnamed;
  ValueToHost(unnamed.value(), Enum(-3, StaticType::HashCode<State>()), nullptr);
  EXPECT_EQ(HostSigned(unnamed.value()), -3);
}

}  // namespace
}  // namespace Kavren

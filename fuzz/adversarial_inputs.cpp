// The hostile shapes: repeated keys, reopened objects, keys whose plain FNV-1a hashes share
// their low bits, keys in descending order, announced counts without data, alias expansion
// and dotted query keys.
#include "adversarial_inputs.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace Kavren::Fuzz {
namespace {

void AppendNumber(std::string& out, std::size_t number) { out += std::to_string(number); }

void AppendBigEndian(std::string& out, std::uint32_t number, int bytes) {
  for (int shift = (bytes - 1) * 8; shift >= 0; shift -= 8) {
    out += static_cast<char>((number >> shift) & 0xFF);
  }
}

// {"k0":0,...,"k<n-1>":0} followed by the last key n more times.
std::string JsonRepeatedKey(std::size_t keys) {
  std::string text = "{";
  for (std::size_t i = 0; i < keys; ++i) {
    text += "\"k";
    AppendNumber(text, i);
    text += "\":0,";
  }
  for (std::size_t i = 0; i < keys; ++i) {
    text += "\"k";
    AppendNumber(text, keys - 1);
    text += i + 1 < keys ? "\":0," : "\":0";
  }
  return text + "}";
}

// {"a":{n keys},"a":{},...}: the object reopened n times.
std::string JsonReopened(std::size_t keys) {
  std::string text = "{\"a\":{";
  for (std::size_t i = 0; i < keys; ++i) {
    if (i != 0) text += ',';
    text += "\"k";
    AppendNumber(text, i);
    text += "\":0";
  }
  text += '}';
  for (std::size_t i = 0; i < keys; ++i) text += ",\"a\":{}";
  return text + "}";
}

// {"k0<abc>":0,...}: n distinct keys whose 32-bit FNV-1a hashes (the interning hash once)
// agree in their low 18 bits, so that a table choosing buckets by those bits puts them all
// in one bucket. The low k bits of FNV-1a depend only on the low k bits of the state and
// the bytes, so each key's last three bytes can be solved for: the last two are looked up
// in a table of the states they lead from to the common value.
std::string JsonCollidingKeys(std::size_t keys) {
  constexpr std::uint32_t kBits = 18;
  constexpr std::uint32_t kMask = (1u << kBits) - 1;
  constexpr std::uint32_t kPrime = 0x01000193u;
  // The inverse of the prime modulo 2^32 (Newton's iteration).
  std::uint32_t inverse = kPrime;
  for (int i = 0; i < 5; ++i) inverse *= 2 - kPrime * inverse;
  const auto usable = [](unsigned byte) {
    return byte > 0x20 && byte < 0x7F && byte != '"' && byte != '\\';
  };
  // The low bits of the state before the last two bytes y, z that lead to the common
  // value 0: (((0 * p^-1) ^ z) * p^-1) ^ y.
  std::vector<std::int32_t> lastTwo(std::size_t{1} << kBits, -1);
  for (unsigned y = 0; y < 256; ++y) {
    for (unsigned z = 0; z < 256; ++z) {
      if (usable(y) && usable(z))
        lastTwo[((z * inverse) ^ y) & kMask] = static_cast<std::int32_t>(y << 8 | z);
    }
  }
  std::string text = "{";
  for (std::size_t i = 0; i < keys; ++i) {
    std::string key = "k" + std::to_string(i);
    std::uint32_t state = 0x811C9DC5u;
    for (const char c : key) state = (state ^ static_cast<unsigned char>(c)) * kPrime;
    // One free byte x, or x and w when no single one leads into the table (w = -1: none).
    bool found = false;
    for (unsigned x = 0; x < 256 && !found; ++x) {
      if (!usable(x)) continue;
      const std::uint32_t afterX = (state ^ x) * kPrime;
      for (int w = -1; w < 256 && !found; ++w) {
        if (w >= 0 && !usable(static_cast<unsigned>(w))) continue;
        const std::uint32_t before = w < 0 ? afterX : (afterX ^ static_cast<unsigned>(w)) * kPrime;
        const std::int32_t tail = lastTwo[before & kMask];
        if (tail < 0) continue;
        key += static_cast<char>(x);
        if (w >= 0) key += static_cast<char>(w);
        key += static_cast<char>(tail >> 8);
        key += static_cast<char>(tail & 0xFF);
        found = true;
      }
    }
    text += i != 0 ? ",\"" : "\"";
    text += key;
    text += "\":0";
  }
  return text + "}";
}

void AppendMessagePackKey(std::string& out, std::string_view key) {
  out += static_cast<char>(0xA0 | key.size());  // keys here are below 32 bytes
  out += key;
}

// The reopened object as MessagePack: map 32 of 1 + n entries.
std::string MessagePackReopened(std::size_t keys) {
  std::string bytes;
  bytes += static_cast<char>(0xDF);
  AppendBigEndian(bytes, static_cast<std::uint32_t>(keys + 1), 4);
  AppendMessagePackKey(bytes, "a");
  bytes += static_cast<char>(0xDF);
  AppendBigEndian(bytes, static_cast<std::uint32_t>(keys), 4);
  for (std::size_t i = 0; i < keys; ++i) {
    AppendMessagePackKey(bytes, "k" + std::to_string(i));
    bytes += '\0';
  }
  for (std::size_t i = 0; i < keys; ++i) {
    AppendMessagePackKey(bytes, "a");
    bytes += static_cast<char>(0x80);
  }
  return bytes;
}

// 512 nested arrays, each announcing 2^32 - 1 elements, then n nil bytes.
std::string MessagePackAnnounced(std::size_t nils) {
  std::string bytes;
  for (int level = 0; level < 512; ++level) {
    bytes += static_cast<char>(0xDD);
    AppendBigEndian(bytes, 0xFFFFFFFFu, 4);
  }
  bytes.append(nils, static_cast<char>(0xC0));
  return bytes;
}

// n block mapping keys, byte-wise descending: k0000049: 1, ..., k0000000: 1.
std::string YamlDescending(std::size_t keys) {
  std::string text;
  char key[32];
  for (std::size_t i = keys; i-- > 0;) {
    const auto [end, error] = std::to_chars(key, key + sizeof key, i);
    (void)error;
    const std::size_t digits = static_cast<std::size_t>(end - key);
    text += 'k';
    if (digits < 7) text.append(7 - digits, '0');
    text.append(key, digits);
    text += ": 1\n";
  }
  return text;
}

// a: &k <100 KiB text>, then b: a flow sequence of n aliases of it.
std::string YamlAliasExpansion(std::size_t aliases) {
  std::string text = "a: &k ";
  text.append(100 * 1024, 'x');
  text += "\nb: [";
  for (std::size_t i = 0; i < aliases; ++i) text += i + 1 < aliases ? "*k," : "*k";
  return text + "]\n";
}

// One query key: p followed by ".65535" n times.
std::string RequestDottedKey(std::size_t components) {
  std::string path = "/fuzz?p";
  for (std::size_t i = 0; i < components; ++i) path += ".65535";
  path += "=x";
  return EncodeRequest("GET", path, {}, std::nullopt);
}

}  // namespace

const std::vector<AdversarialShape>& AdversarialShapes() {
  static const std::vector<AdversarialShape> shapes = {
      {"json-repeated-key", "read_json", JsonRepeatedKey, 50000},
      {"json-reopened", "read_json", JsonReopened, 20000},
      {"json-colliding-keys", "read_json", JsonCollidingKeys, 80000},
      {"msgpack-reopened", "read_msgpack", MessagePackReopened, 20000},
      {"yaml-descending", "read_yaml", YamlDescending, 50000},
      {"msgpack-announced", "read_msgpack", MessagePackAnnounced, 130000},
      {"yaml-alias-expansion", "read_yaml", YamlAliasExpansion, 30000},
      {"request-dotted-key", "request", RequestDottedKey, 166},
  };
  return shapes;
}

const AdversarialShape* FindAdversarialShape(std::string_view name) {
  for (const AdversarialShape& shape : AdversarialShapes()) {
    if (shape.name == name) return &shape;
  }
  return nullptr;
}

std::optional<std::string> ExpandShapeText(std::string_view text) {
  const std::size_t blank = text.find(' ');
  if (blank == std::string_view::npos) return std::nullopt;
  const AdversarialShape* shape = FindAdversarialShape(text.substr(0, blank));
  if (shape == nullptr) return std::nullopt;
  std::size_t scale = 0;
  const char* first = text.data() + blank + 1;
  const auto [end, error] = std::from_chars(first, text.data() + text.size(), scale);
  if (error != std::errc() || end == first) return std::nullopt;
  return shape->generate(scale);
}

std::string EncodeRequest(std::string_view method, std::string_view path,
                          const std::vector<std::string>& headers,
                          const std::optional<std::string>& body) {
  std::string text;
  text.append(method).append(" ").append(path).append("\n");
  for (const std::string& header : headers) text.append(header).append("\n");
  if (body) text.append("\n").append(*body);
  return text;
}

}  // namespace Kavren::Fuzz

// URL decoding and query parsing for the router.
#include "http/url.h"

namespace Kavren {
namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

std::string UrlDecode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      decoded.push_back(' ');
    } else if (c == '%' && i + 2 < text.size() && HexDigit(text[i + 1]) >= 0 &&
               HexDigit(text[i + 2]) >= 0) {
      decoded.push_back(static_cast<char>(HexDigit(text[i + 1]) * 16 + HexDigit(text[i + 2])));
      i += 2;
    } else {
      decoded.push_back(c);
    }
  }
  return decoded;
}

UrlQuery ParseQuery(std::string_view path) {
  UrlQuery query;
  const std::size_t mark = path.find('?');
  if (mark == std::string_view::npos) return query;
  std::string_view rest = path.substr(mark + 1);
  while (true) {
    const std::size_t end = rest.find('&');
    const std::string_view piece = rest.substr(0, end);
    const std::size_t equals = piece.find('=');
    std::string key = UrlDecode(piece.substr(0, equals));
    std::string value =
        equals == std::string_view::npos ? std::string() : UrlDecode(piece.substr(equals + 1));
    query.insert_or_assign(std::move(key), std::move(value));
    if (end == std::string_view::npos) break;
    rest = rest.substr(end + 1);
  }
  return query;
}

}  // namespace Kavren

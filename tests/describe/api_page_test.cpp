// The page's routes on a real server on 127.0.0.1, and hxa-host describe's outcomes.
#include "host/server/api_page.h"

#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "host/describe/describe.h"

namespace Kavren::Host {
namespace {

TEST(ApiPage, ServesThePageItsDocumentsAndOnlyTheFilesItNeeds) {
  // The page's folder, and a Swagger UI folder with its stylesheet but without its script.
  const std::filesystem::path root =
      std::filesystem::temp_directory_path() / ("hxa-page-" + std::to_string(::getpid()));
  std::filesystem::create_directories(root / "page");
  std::filesystem::create_directories(root / "swagger");
  std::ofstream(root / "page" / "index.html") << "<p>page</p>";
  std::ofstream(root / "page" / "page.js") << "start();";
  std::ofstream(root / "swagger" / "swagger-ui.css") << "body{}";
  std::ofstream(root / "swagger" / "index.html") << "not served";

  httplib::Server server;
  MountApiPage(server,
               {[] { return std::string(R"({"openapi":"3.1.0"})"); },
                [] { return std::string(R"({"asyncapi":"3.0.0"})"); }},
               ApiPageFiles{(root / "page").string(), (root / "swagger").string(), ""});
  const int port = server.bind_to_any_port("127.0.0.1");
  ASSERT_GT(port, 0);
  // The socket listens from the bind on: requests wait in its backlog until accepted.
  std::thread serving([&server] { server.listen_after_bind(); });

  httplib::Client client("127.0.0.1", port);
  const struct {
    const char* path;
    int status;
    const char* contentType;
    const char* body;
  } kCases[] = {
      {"/", 200, "text/html; charset=utf-8", "<p>page</p>"},
      {"/page/page.js", 200, "application/javascript", "start();"},
      {"/page/chart.js", 404, "text/plain", "No such file of the page"},
      // Only scripts, styles and JSON of the page's own folder.
      {"/page/index.html", 404, "", ""},
      {"/page/..%2Fswagger%2Fswagger-ui.css", 404, "", ""},
      {"/openapi.json", 200, "application/json", R"({"openapi":"3.1.0"})"},
      {"/asyncapi.json", 200, "application/json", R"({"asyncapi":"3.0.0"})"},
      {"/swagger-ui/swagger-ui.css", 200, "text/css", "body{}"},
      {"/swagger-ui/swagger-ui-bundle.js", 404, "text/plain",
       "Swagger UI is not installed: run ./x setup"},
      {"/swagger-ui/index.html", 404, "", ""},
      {"/uplot/uPlot.iife.min.js", 404, "text/plain", "uPlot is not installed: run ./x setup"},
  };
  for (const auto& expected : kCases) {
    const httplib::Result result = client.Get(expected.path);
    ASSERT_TRUE(result) << expected.path;
    EXPECT_EQ(result->status, expected.status) << expected.path;
    EXPECT_EQ(result->get_header_value("Content-Type"), expected.contentType) << expected.path;
    EXPECT_EQ(result->body, expected.body) << expected.path;
  }

  server.stop();
  serving.join();
  std::filesystem::remove_all(root);
}

// What RunDescribe wrote to `out` and `err`, and its result.
struct DescribeRun {
  int result;
  std::string out;
  std::string err;
};

std::string ReadAll(std::FILE* file) {
  std::rewind(file);
  std::string text;
  char buffer[4096];
  for (std::size_t read; (read = std::fread(buffer, 1, sizeof buffer, file)) > 0;) {
    text.append(buffer, read);
  }
  std::fclose(file);
  return text;
}

DescribeRun Describe(const std::string& plugin, const std::string& format) {
  std::FILE* out = std::tmpfile();
  std::FILE* err = std::tmpfile();
  const int result = RunDescribe(plugin, format, out, err);
  return DescribeRun{result, ReadAll(out), ReadAll(err)};
}

TEST(Describe, PrintsEachFormatOfThePluginOrSaysWhyNot) {
  const DescribeRun unknown = Describe(HXA_PLUGIN_PATH, "yaml");
  EXPECT_EQ(unknown.result, 2);
  EXPECT_EQ(unknown.err,
            "hxa-host: unknown format 'yaml' (openapi, asyncapi, native or epytext)\n");
  EXPECT_EQ(unknown.out, "");

  const DescribeRun missing = Describe("/nonexistent/plugin.so", "openapi");
  EXPECT_EQ(missing.result, 1);
  EXPECT_EQ(missing.err.rfind("hxa-host: /nonexistent/plugin.so: cannot open shared object", 0), 0u)
      << missing.err;

  for (const char* format : {"openapi", "native", "epytext"}) {
    const DescribeRun run = Describe(HXA_PLUGIN_PATH, format);
    EXPECT_EQ(run.result, 0) << format;
    EXPECT_EQ(run.err, "") << format;
    rapidjson::Document document;
    document.Parse(run.out.c_str());
    ASSERT_FALSE(document.HasParseError()) << format;
    const rapidjson::Value& functions =
        std::string(format) == "openapi" ? document["paths"] : document["functions"];
    EXPECT_EQ(functions.IsArray() ? functions.Size() : functions.MemberCount(), 4u) << format;
  }
}

}  // namespace
}  // namespace Kavren::Host

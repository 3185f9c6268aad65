// kx8db report --html: the page of a real run report, parsed as HTML,
// names every company and every step of each, and shows what is in the
// report's text safely.
#include <libxml/HTMLparser.h>
#include <libxml/tree.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <sstream>

#include "cli/batch_run.h"
#include "cli/run_report.h"
#include "test_root.h"
#include "tools/report_html.h"

namespace kx8::tools {
namespace {

namespace fs = std::filesystem;
using ::testing::Contains;
using ::testing::IsSupersetOf;
using ::testing::Not;

// The text of every element with the class, and of every <h2>, in a page.
struct Page {
  std::vector<std::string> headings, steps, cells;
  bool has_script = false;
};

void Walk(xmlNode* node, Page& page) {
  for (xmlNode* n = node; n != nullptr; n = n->next) {
    if (n->type == XML_ELEMENT_NODE) {
      const std::string name = reinterpret_cast<const char*>(n->name);
      xmlChar* content = xmlNodeGetContent(n);
      std::string text = content != nullptr ? reinterpret_cast<const char*>(content) : "";
      xmlFree(content);
      xmlChar* cls = xmlGetProp(n, reinterpret_cast<const xmlChar*>("class"));
      const std::string klass = cls != nullptr ? reinterpret_cast<const char*>(cls) : "";
      xmlFree(cls);
      if (name == "h2") page.headings.push_back(text);
      if (name == "td") page.cells.push_back(text);
      if (name == "td" && klass == "step") {
        // Steps inside a column run are indented with no-break spaces.
        while (text.rfind("\xc2\xa0", 0) == 0) text.erase(0, 2);
        page.steps.push_back(text);
      }
      if (name == "script" || name == "link" || name == "img") page.has_script = true;
    }
    Walk(n->children, page);
  }
}

Page Parse(const std::string& html) {
  htmlDocPtr doc = htmlReadMemory(html.data(), static_cast<int>(html.size()), "report.html", "utf-8",
                                  HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
  if (doc == nullptr) throw std::runtime_error("the page does not parse as HTML");
  Page page;
  Walk(xmlDocGetRootElement(doc), page);
  xmlFreeDoc(doc);
  return page;
}

TEST(ReportHtmlTest, ThePageNamesEveryCompanyAndEveryStepOfARealRun) {
  const fs::path base = fs::temp_directory_path() / ("kx8-report-html-" + std::to_string(::getpid()));
  fs::remove_all(base);
  const std::string root = (base / "root").string() + "/";
  // ACME has a whole pass; GHOST fails at its connect and the run goes on.
  testroot::MakeRoot(root, {{"ACME", "Acme Pte Ltd", "1"}, {"GHOST", "Ghost Pte Ltd", "1", false}});
  const std::string report_path = (base / "run.json").string();
  std::ostringstream out, err;
  std::istringstream in;
  cli::BatchMain({"--batch", "--root", root, "--yes", "--force", "--keep-going", "--report", report_path}, out, err, in, false);
  cli::Json report = cli::ReadReport(report_path);
  fs::remove_all(base);
  // Text of the report that HTML would take for markup.
  report["companies"][0]["dialogs"].push_back(
      cli::Json{{"kind", "message"}, {"text", "<script>x</script> & more"}, {"caption", ""}, {"answer", nullptr}});

  Page page = Parse(ReportHtml(report));
  std::set<std::string> steps;
  for (const cli::Json& company : report["companies"]) {
    EXPECT_THAT(page.headings, Contains(company["code"].get<std::string>()));
    for (const cli::Json& s : company["steps"]) steps.insert(s["name"].get<std::string>());
  }
  ASSERT_THAT(steps, Contains("StampReleaseVersion"));
  EXPECT_THAT(page.steps, IsSupersetOf(std::vector<std::string>(steps.begin(), steps.end())));
  EXPECT_THAT(page.cells, Contains("<script>x</script> & more"));
  EXPECT_THAT(page.cells, Contains("failed"));
  // Self-contained: no scripts, no outside style sheets or pictures.
  EXPECT_FALSE(page.has_script);
}

}  // namespace
}  // namespace kx8::tools

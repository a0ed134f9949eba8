#pragma once
// WSSP pages in tests: a page loaded from a text, a page tree shown as one
// line of text, and a folder of pages that serves them as includes.
#include <map>
#include <memory>
#include <string>

#include "serverdata/wssp.h"
#include "support/core/run_program.h"

namespace testsupport {

// The tree as kind letters, with numbers, texts and children:
//   E empty, T"text", N5, V"name", I[format,expression], O332[...],
//   L"name" (loop element), M369[...], C[...], F"name"[...] (loop),
//   S[...], U"file"[...] (include).
// Texts are written with \n, \r, \t, \" and \\ escaped, other bytes below
// 32 or from 127 as \xHH.
std::string describeTree(const cgp::WsspNode* node);

// Writes the text to a file of its own and loads it; null when it does not
// load. The file goes when the page does.
std::unique_ptr<cgp::WsspNode> loadPage(const std::string& text);

// Page files in a temporary folder, loaded on first request and kept for
// the folder's life; served by name to the renderer while installed.
class PageFolder {
public:
    PageFolder();
    ~PageFolder();  // uninstalls itself
    PageFolder(const PageFolder&) = delete;
    PageFolder& operator=(const PageFolder&) = delete;

    std::string path(const std::string& name) const { return dir_ / name; }
    void write(const std::string& name, const std::string& text);
    void install();
    // The include handler: the page's root, or null when it does not load.
    cgp::WsspNode* page(const std::string& name);
    int requests() const { return requests_; }

private:
    TempDir dir_;
    std::map<std::string, std::unique_ptr<cgp::WsspNode>> loaded_;
    int requests_ = 0;
};

// Renders the page with the variables into a string.
std::string render(const cgp::WsspNode* root, const cgp::DataSet& variables);

}  // namespace testsupport

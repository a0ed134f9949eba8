#include "support/serverdata/pages.h"

#include <cstdio>
#include <sstream>

namespace testsupport {

namespace {

void quoted(std::string& out, const std::string& text) {
    out += '"';
    for (unsigned char c : text) {
        switch (c) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        default:
            if (c < 32 || c >= 127) {
                char hex[8];
                std::snprintf(hex, sizeof hex, "\\x%02X", c);
                out += hex;
            } else {
                out += static_cast<char>(c);
            }
        }
    }
    out += '"';
}

void describe(std::string& out, const cgp::WsspNode* node) {
    if (node == nullptr) {
        out += "null";
        return;
    }
    static const char kLetters[] = "ETNVIOLMCFSU";
    const bool known = node->kind >= 0 && node->kind <= 11;
    out += known ? kLetters[node->kind] : '?';
    switch (node->kind) {
    case cgp::WsspNode::kNumber:
    case cgp::WsspNode::kOperator:
    case cgp::WsspNode::kMenu:
        out += std::to_string(node->number);
        break;
    case cgp::WsspNode::kText:
    case cgp::WsspNode::kName:
    case cgp::WsspNode::kLoopElement:
    case cgp::WsspNode::kLoop:
    case cgp::WsspNode::kInclude:
        quoted(out, node->text);
        break;
    default:
        break;
    }
    if (node->children.empty()) {
        if (node->kind == cgp::WsspNode::kSequence || node->kind == cgp::WsspNode::kOperator ||
            node->kind == cgp::WsspNode::kInclude)
            out += "[]";
        return;
    }
    out += '[';
    for (std::size_t i = 0; i < node->children.size(); ++i) {
        if (i > 0) out += ',';
        describe(out, node->children[i]);
    }
    out += ']';
}

}  // namespace

std::string describeTree(const cgp::WsspNode* node) {
    std::string out;
    describe(out, node);
    return out;
}

std::unique_ptr<cgp::WsspNode> loadPage(const std::string& text) {
    TempDir dir;
    const std::string file = dir / "page.wssp";
    writeFile(file, text);
    return std::unique_ptr<cgp::WsspNode>(cgp::WSSPPage::loadFromFile(file));
}

PageFolder::PageFolder() {}

PageFolder::~PageFolder() { cgp::WSSPPage::setIncludeHandler(nullptr, nullptr); }

void PageFolder::write(const std::string& name, const std::string& text) {
    writeFile(dir_ / name, text);
    loaded_.erase(name);
}

void PageFolder::install() { cgp::WSSPPage::setIncludeHandler(this, &PageFolder::page); }

cgp::WsspNode* PageFolder::page(const std::string& name) {
    ++requests_;
    auto found = loaded_.find(name);
    if (found == loaded_.end()) {
        // A name that leaves the folder is no page of it.
        if (name.empty() || name.find('/') != std::string::npos) return nullptr;
        found = loaded_.emplace(name, std::unique_ptr<cgp::WsspNode>(cgp::WSSPPage::loadFromFile(dir_ / name))).first;
    }
    return found->second.get();
}

std::string render(const cgp::WsspNode* root, const cgp::DataSet& variables) {
    std::ostringstream out;
    cgp::WSSPPage::render(root, out, variables);
    return out.str();
}

}  // namespace testsupport

// WSSP pages: the node, the loader and the node builders the page-mode
// grammar calls.
#include "serverdata/wssp.h"

#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <set>

#include "runtime/convert.h"
#include "runtime/escape.h"
#include "runtime/log.h"
#include "runtime/mutex.h"
#include "serverdata/internal/parser.h"
#include "serverdata/internal/parser_actions.h"
#include "cgparser_grammar.h"

namespace cgp {

// The grammar's token codes are the node numbers the renderer reads.
static_assert(PAGE_BAR == wssp::kBar && PAGE_AMP == wssp::kAmpersand && PAGE_DOT == wssp::kDot, "operators");
static_assert(kWsspMember == wssp::kMember && kWsspAnd == wssp::kAnd && kWsspOr == wssp::kOr, "operator codes");
static_assert(PAGE_INCLUDEARG == wssp::kIncludeArg && PAGE_EXISTS == wssp::kExists &&
                  PAGE_KNOWNTIMEZONES == wssp::kKnownTimeZones && PAGE_TRANSLATE == wssp::kTranslate &&
                  PAGE_CONTAINS == wssp::kContains && PAGE_WEEKDAYS == wssp::kWeekdays,
              "function words");
static_assert(PAGE_HTML == wssp::kHtml && PAGE_JAVASCRIPT == wssp::kJavaScript &&
                  PAGE_DATETIMESHORT == wssp::kDateTimeShort && PAGE_DATETIME == wssp::kDateTime &&
                  PAGE_LOCALDATETIMESHORT == wssp::kLocalDateTimeShort &&
                  PAGE_LOCALDATETIME == wssp::kLocalDateTime && PAGE_LOCALDATE == wssp::kLocalDate &&
                  PAGE_DATEWEEK == wssp::kDateWeek && PAGE_DATE == wssp::kDate &&
                  PAGE_HTMLTRUNCATED == wssp::kHtmlTruncated && PAGE_HTMLSUBST == wssp::kHtmlSubst &&
                  PAGE_HTMLSUBSTROUNDSIZE == wssp::kHtmlSubstRoundSize && PAGE_INDEX1 == wssp::kIndex1 &&
                  PAGE_INDEX == wssp::kIndex,
              "formats");
static_assert(PAGE_NUMERICMENU == wssp::kNumericMenu && PAGE_BOOLMENU == wssp::kBoolMenu &&
                  PAGE_STRINGMENU == wssp::kStringMenu && PAGE_LOCALCALENDARTIMEMENU == wssp::kLocalCalendarTimeMenu,
              "menus");

namespace {

// The loader's own lock, held for a whole load: the registry and the page
// belong to one load at a time. Never destroyed, like the parser's.
qdl::SimpleMutex& loaderMutex() {
    static qdl::SimpleMutex* m = new qdl::SimpleMutex;
    return *m;
}

// Set on the thread that loads, for the parse. Nodes made and destroyed
// there are the load's and enter its registry; nodes elsewhere never do, so
// freeing a page on another thread touches no loader state.
thread_local bool loadingHere = false;

// Under loaderMutex: every node of the running load that exists, and the
// page the start production handed on. Never destroyed: a page may be freed
// while the process exits.
struct LoaderState {
    std::set<WsspNode*> registry;
    WsspNode* loadedPage = nullptr;
};

LoaderState& loader() {
    static LoaderState* state = new LoaderState;
    return *state;
}

std::atomic<bool> verbose{false};

struct LoadingHere {
    LoadingHere() { loadingHere = true; }
    ~LoadingHere() { loadingHere = false; }
};

// Each from the top of its parent chain.
void freeAll(std::set<WsspNode*>& nodes) {
    while (!nodes.empty()) {
        WsspNode* top = *nodes.begin();
        while (top->parent != nullptr) top = top->parent;
        delete top;
    }
}

// The nodes of a page-mode parse that no load started on this thread: such
// a parse only checks the syntax, and touches no loader state, whose lock
// would be taken inside the parser's. Freed when it ends well, else with
// the next one or when the thread ends. The pointer stays readable after
// the holder went, for nodes freed late in the exit.
thread_local std::set<WsspNode*>* foreignNodes = nullptr;

struct ForeignNodes {
    std::set<WsspNode*> nodes;
    ForeignNodes() { foreignNodes = &nodes; }
    ~ForeignNodes() {
        freeAll(nodes);
        foreignNodes = nullptr;
    }
};

std::set<WsspNode*>& foreign() {
    thread_local ForeignNodes holder;
    return holder.nodes;
}

WsspNode* make(int kind, int number = 0, const std::string& text = std::string()) {
    return new WsspNode(kind, number, text);
}

// Moves every child of the sequence to the node and destroys the sequence.
void adoptChildren(WsspNode* node, WsspNode* sequence) {
    if (sequence == nullptr) return;
    for (WsspNode* child : sequence->children) node->addChild(child);
    sequence->children.clear();
    delete sequence;
}

// The statements open in the running page-mode parse (the parser's lock
// guards it).
int openStatements = 0;

bool nestedTooDeeply() {
    cgparsererror("page nested too deeply");
    return false;
}

// True when the expression, if any, is within the height bound; otherwise
// the parse ends with an error (the loader frees the nodes).
bool fits(const WsspNode* expression) {
    return expression == nullptr || expression->height() <= wssp::kMaxExpressionHeight || nestedTooDeeply();
}

bool isRegularFile(const std::string& path, long long& size) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    size = static_cast<long long>(st.st_size);
    return true;
}

}  // namespace

// ---- the node ----

WsspNode::WsspNode(int kind, int number, const std::string& text)
    : kind(kind), number(number), text(text), parent(nullptr) {
    if (loadingHere)
        loader().registry.insert(this);
    else if (ParseInProgress::onThisThread())
        foreign().insert(this);
}

WsspNode::~WsspNode() {
    // Level by level instead of recursively: a long chain of operators
    // must not exhaust the stack.
    std::vector<WsspNode*> pending;
    pending.swap(children);
    while (!pending.empty()) {
        WsspNode* node = pending.back();
        pending.pop_back();
        if (node == nullptr) continue;
        pending.insert(pending.end(), node->children.begin(), node->children.end());
        node->children.clear();
        delete node;
    }
    if (loadingHere)
        loader().registry.erase(this);
    else if (foreignNodes != nullptr)
        foreignNodes->erase(this);
}

void WsspNode::addChild(WsspNode* child) {
    children.push_back(child);
    if (child == nullptr) return;
    child->parent = this;
    height_ = std::max(height_, child->height_ + 1);
}

void WsspNode::flatten() {
    height_ = 1;
    for (WsspNode*& child : children) {
        if (child == nullptr) continue;
        while (child->kind == kSequence && child->children.size() == 1 && child->children[0] != nullptr) {
            WsspNode* only = child->children[0];
            child->children.clear();
            delete child;
            child = only;
            child->parent = this;
        }
        child->flatten();
        height_ = std::max(height_, child->height_ + 1);
    }
}

// ---- the loader ----

WsspNode* WSSPPage::setRoot(WsspNode* node) { return node; }

void WSSPPage::setVerbose(bool on) { verbose = on; }

WsspNode* WSSPPage::loadFromFile(const std::string& path) {
    if (verbose) qdl::logline() << "WSSPPage: Loading from file " << path;
    // A load inside a parse would empty the registry of the running one.
    if (ParseInProgress::onThisThread()) return nullptr;
    qdl::ScopedLock guard(loaderMutex());
    LoaderState& state = loader();
    state.registry.clear();
    state.loadedPage = nullptr;

    WsspNode* root = nullptr;
    long long size = 0;
    // Only a regular file: a FIFO or a device could block or never end.
    if (isRegularFile(path, size)) {
        if (size == 0) {
            root = new WsspNode(WsspNode::kSequence);
        } else {
            LoadingHere mark;
            if (parseFile(path, kPageMode) && state.loadedPage != nullptr) {
                root = state.loadedPage;
            } else {
                freeAll(state.registry);  // whatever the parse built
            }
            state.registry.clear();
            state.loadedPage = nullptr;
        }
    }
    std::fflush(stdout);
    return root;
}

// ---- builders ----

WsspNode* wsspText(std::string* text) {
    std::unique_ptr<std::string> owned(text);
    WsspNode* node = make(WsspNode::kText);
    node->text.swap(*owned);
    return node;
}

// Texts go straight into the node: a string may be of any size.
WsspNode* wsspString(const char* text) {
    WsspNode* node = make(WsspNode::kText);
    qdl::cgpUnescapeAppend(text, tokenLength(text), node->text);
    return node;
}

WsspNode* wsspName(const char* name) {
    WsspNode* node = make(WsspNode::kName);
    node->text = name;
    return node;
}

WsspNode* wsspNumber(const char* digits) { return make(WsspNode::kNumber, qdl::stringToInt(digits)); }

WsspNode* wsspLoopElement(const char* name) { return make(WsspNode::kLoopElement, 0, name); }

WsspNode* wsspNoInbox() { return make(WsspNode::kText, 0, "NOINBOX"); }

WsspNode* wsspOperator(int code, WsspNode* first, WsspNode* second) {
    WsspNode* node = make(WsspNode::kOperator, code);
    if (first != nullptr) node->addChild(first);
    if (second != nullptr) node->addChild(second);
    return node;
}

WsspNode* wsspOperatorList(int code, WsspNode* list) {
    WsspNode* node = make(WsspNode::kOperator, code);
    adoptChildren(node, list);
    return node;
}

WsspNode* wsspAppend(WsspNode* sequence, WsspNode* item) {
    if (sequence == nullptr) sequence = make(WsspNode::kSequence);
    if (item == nullptr) return sequence;
    // Text after text joins it: adjacent runs are one node.
    if (item->kind == WsspNode::kText && !sequence->children.empty() && sequence->children.back() != nullptr &&
        sequence->children.back()->kind == WsspNode::kText) {
        sequence->children.back()->text += item->text;
        delete item;
        return sequence;
    }
    sequence->addChild(item);
    return sequence;
}

// Arguments never join: ("a", "b") is two arguments, whatever their kind.
WsspNode* wsspAppendArgument(WsspNode* list, WsspNode* item) {
    if (list == nullptr) list = make(WsspNode::kSequence);
    if (item != nullptr) list->addChild(item);
    return list;
}

WsspNode* wsspPage(WsspNode* items) {
    WsspNode* page = make(WsspNode::kSequence);
    page->addChild(items != nullptr ? items : make(WsspNode::kText));
    return page;
}

WsspNode* wsspInline(WsspNode* format, WsspNode* expression) {
    if (!fits(format) || !fits(expression)) return nullptr;
    WsspNode* node = make(WsspNode::kInline);
    node->addChild(format != nullptr ? format : make(WsspNode::kEmpty));
    node->addChild(expression);
    return node;
}

void wsspBegin() { openStatements = 0; }

// Counted as they open, before their bodies are read: a page nested without
// end fails at the first statement too deep, and the parser's stack stays
// small.
bool wsspEnter() { return ++openStatements <= wssp::kMaxNesting || nestedTooDeeply(); }

WsspNode* wsspConditional(WsspNode* condition, WsspNode* page) {
    if (!fits(condition)) return nullptr;
    WsspNode* node = make(WsspNode::kConditional);
    node->addChild(condition);
    node->addChild(page);
    return node;
}

WsspNode* wsspElif(WsspNode* conditional, WsspNode* condition, WsspNode* page) {
    if (!fits(condition)) return nullptr;
    conditional->addChild(condition);
    conditional->addChild(page);
    return conditional;
}

WsspNode* wsspEndIf(WsspNode* conditional, WsspNode* elsePage) {
    conditional->addChild(elsePage != nullptr ? elsePage : make(WsspNode::kEmpty));
    --openStatements;
    return conditional;
}

WsspNode* wsspLoop(const char* name, WsspNode* collection, WsspNode* body, const char* emptyName, WsspNode* emptyBody,
                   const char* endName) {
    if (emptyName != nullptr && (std::string(name) != emptyName || std::string(name) != endName)) {
        qdl::logline() << "while parsing a wssp file: syntax error, mismatching scanner names (" << name << ", "
                       << emptyName << ", " << endName << ")";
        return nullptr;
    }
    if (!fits(collection)) return nullptr;
    WsspNode* node = make(WsspNode::kLoop, 0, name);
    node->addChild(collection);
    node->addChild(body);
    node->addChild(emptyBody != nullptr ? emptyBody : make(WsspNode::kEmpty));
    --openStatements;
    return node;
}

WsspNode* wsspInclude(const char* file, WsspNode* arguments) {
    if (arguments != nullptr)
        for (const WsspNode* argument : arguments->children)
            if (!fits(argument)) return nullptr;
    WsspNode* node = make(WsspNode::kInclude, 0, qdl::cgpUnescape(file));
    adoptChildren(node, arguments);
    return node;
}

WsspNode* wsspMenu(int code, WsspNode* variable, WsspNode* list, WsspNode* defaultValue, WsspNode* display) {
    WsspNode* node = make(WsspNode::kMenu, code);
    WsspNode* parts[] = {variable, list, defaultValue, display};
    // Positions are fixed: a missing part before a given one is an empty
    // node; missing parts at the end are left out.
    int count = 4;
    while (count > 0 && parts[count - 1] == nullptr) --count;
    for (int i = 0; i < count; ++i) {
        if (!fits(parts[i])) return nullptr;
        node->addChild(parts[i] != nullptr ? parts[i] : make(WsspNode::kEmpty));
    }
    return node;
}

bool wsspSetResult(WsspNode* page) {
    if (!loadingHere) {
        freeAll(foreign());
        return true;
    }
    loader().loadedPage = page;
    return true;
}

}  // namespace cgp

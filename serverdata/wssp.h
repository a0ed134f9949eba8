#pragma once
// WSSP page templates: a page file loaded into a tree of nodes, rendered
// against a data set of variables. Loading and rendering never throw for a
// bad page or missing values: a page that does not load gives null (its
// syntax error is printed on standard output), and a render writes what it
// can, with bracketed error texts in the page where an include fails.
//
// Loads may run on any thread; they are serialised. Renders of separate
// trees may run at once; a tree is only read while it is rendered, and the
// variables must not change on another thread meanwhile.
#include <cstddef>
#include <ctime>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "serverdata/dataset.h"

namespace cgp {

// Node numbers: an operator node holds the code of its function word, format
// prefix or operator, a menu node that of its menu word.
namespace wssp {
constexpr int kBar = 270;  // the tokens of the operators below
constexpr int kAmpersand = 271;
constexpr int kDot = 272;
constexpr int kIncludeArg = 290;
constexpr int kExists = 294;
constexpr int kDoesNotExist = 295;
constexpr int kNot = 296;
constexpr int kEquals = 297;
constexpr int kEqualsNoCase = 298;
constexpr int kIsIndex = 299;
constexpr int kIsFirst = 300;
constexpr int kIsEven = 301;
constexpr int kChecked = 302;
constexpr int kHasParentMailbox = 303;
constexpr int kIsString = 304;
constexpr int kIsArray = 305;
constexpr int kIsDictionary = 306;
constexpr int kIsDate = 307;
constexpr int kIsData = 308;
constexpr int kNull = 309;
constexpr int kEmptyString = 310;
constexpr int kEmptyArray = 311;
constexpr int kEmptyDictionary = 312;
constexpr int kString = 313;
constexpr int kDictionary = 314;
constexpr int kArray = 315;
constexpr int kTranslate = 316;
constexpr int kContains = 317;
constexpr int kRandomElement = 318;
constexpr int kMonthNames = 319;
constexpr int kWeekdays = 320;
constexpr int kKnownCharsets = 321;
constexpr int kKnownTimeZones = 322;
constexpr int kMember = 323;  // ".", SESSION(, SETTINGS(, ACCOUNTSETTINGS(
constexpr int kAnd = 324;     // "&"
constexpr int kOr = 325;      // "|"
// Format prefixes.
constexpr int kHtml = 332;
constexpr int kHtmlUtf8 = 333;
constexpr int kUrl = 334;
constexpr int kMailboxRawName = 335;
constexpr int kMailboxName = 336;
constexpr int kMailboxLastName = 337;
constexpr int kUrlMailboxParent = 338;
constexpr int kJavaScript = 339;
constexpr int kSize = 340;
constexpr int kRoundSize = 341;
constexpr int kTime = 342;
constexpr int kDateTimeShort = 343;
constexpr int kDateTime = 344;  // also "DATETIME(" x ")" ":"
constexpr int kLocalDateTimeShort = 346;
constexpr int kLocalDateTime = 347;  // also "LOCALDATETIME(" x ")" ":"
constexpr int kLocalDate = 349;
constexpr int kDateWeek = 350;
constexpr int kDate = 351;
constexpr int kHtmlTruncated = 352;
constexpr int kHtmlSubst = 353;
constexpr int kHtmlSubstMailbox = 354;
constexpr int kHtmlSubstRoundSize = 355;
constexpr int kIndex1 = 356;
constexpr int kIndex = 357;
// Menus.
constexpr int kNumericMenu = 365;
constexpr int kTimeMenu = 366;
constexpr int kSizeMenu = 367;
constexpr int kEnumMenu = 368;
constexpr int kBoolMenu = 369;
constexpr int kMailboxMenu = 370;
constexpr int kDayTimeMenu = 371;
constexpr int kCalendarTimeMenu = 372;
constexpr int kLocalCalendarTimeMenu = 373;
constexpr int kStringMenu = 374;

// Includes nest at most this deep: a page that includes itself ends. The
// pages they include are together at most this many nodes high (16 pages
// of 256): rendering recurses along each, and one page may be nested much
// more deeply (below).
constexpr int kMaxIncludeDepth = 16;
constexpr int kMaxIncludedHeight = 16 * 256;
// Statements with a body (IF, FOREACH, FORALL) nest at most this deep, and
// an expression is at most this many nodes high (a chain of operators
// counts each): rendering recurses along both, so a loaded tree is at most
// about 3 * kMaxNesting + kMaxExpressionHeight nodes high.
constexpr int kMaxNesting = 256;
constexpr int kMaxExpressionHeight = 256;
}  // namespace wssp

// One node of a page. Children are owned: destroying a node destroys them
// first. parent is the node whose children hold this one, null for a root.
class WsspNode {
public:
    static constexpr int kEmpty = 0;
    static constexpr int kText = 1;         // text: the text
    static constexpr int kNumber = 2;       // number: the value
    static constexpr int kName = 3;         // text: the name, lowered
    static constexpr int kInline = 4;       // [format operator or empty, expression]
    static constexpr int kOperator = 5;     // number: the code; the operands
    static constexpr int kLoopElement = 6;  // text: the name before "[]", lowered
    static constexpr int kMenu = 7;         // number: the code; [variable, list, default, display]
    static constexpr int kConditional = 8;  // [condition, body, ... , else body]
    static constexpr int kLoop = 9;         // text: the variable; [collection, body, empty body]
    static constexpr int kSequence = 10;
    static constexpr int kInclude = 11;     // text: the file name; the arguments

    explicit WsspNode(int kind, int number = 0, const std::string& text = std::string());
    ~WsspNode();
    WsspNode(const WsspNode&) = delete;
    WsspNode& operator=(const WsspNode&) = delete;

    int getKind() const { return kind; }
    // Appends the child and sets its parent.
    void addChild(WsspNode* child);
    // Replaces, through the whole tree, every child that is a sequence of
    // one child by that child.
    void flatten();
    // Nodes on the longest path down from this one, this one included.
    int height() const { return height_; }

    int kind;
    std::vector<WsspNode*> children;
    int number;
    std::string text;
    WsspNode* parent;

private:
    int height_ = 1;
};

// A render's state: the variables (shared with the caller) and the locals,
// a dictionary: "INCLUDEARG", the array of the current include's arguments,
// and inside a loop over x, x + "[]" (the element) and x + "[index]" (its
// position from 0, as a string).
class WsspContext {
public:
    explicit WsspContext(const DataSet& variables);
    ~WsspContext();
    WsspContext(const WsspContext&) = delete;
    WsspContext& operator=(const WsspContext&) = delete;

    DataSet variables;
    DataSet locals;

    struct Render;  // what a render keeps aside (wssp_render.cpp)

private:
    friend class WSSPPage;
    std::unique_ptr<Render> render_;  // made on first use
};

class WSSPPage {
public:
    // The tree of a page file, the caller's to delete; null when the file is
    // missing or no regular file, or does not parse. An empty file gives an
    // empty sequence.
    static WsspNode* loadFromFile(const std::string& path);
    // Returns the node: a page's root is what its start production gives,
    // not the first node made.
    static WsspNode* setRoot(WsspNode* node);
    // The loader's diagnostics ("WSSPPage: Loading from file ..."), off at
    // start.
    static void setVerbose(bool on);

    // Included pages come from object->*function(name): the root of the
    // page, which the handler keeps and which must live while renders use
    // it, or null when there is none. Replaces the handler before; a handler
    // with a null part counts as none.
    template <class T>
    static void setIncludeHandler(T* object, WsspNode* (T::*function)(const std::string& name));
    template <class T>
    static void setIncludeHandler(T*, std::nullptr_t) { setHandler(nullptr); }
    template <class T>
    static void setIncludeHandler(std::nullptr_t, WsspNode* (T::*)(const std::string&)) { setHandler(nullptr); }
    static void setIncludeHandler(std::nullptr_t, std::nullptr_t) { setHandler(nullptr); }

    // Writes the page with the variables.
    static void render(const WsspNode* root, std::ostream& out, const DataSet& variables);
    static void execute(const WsspNode* node, std::ostream& out, WsspContext& context);
    // The node's value: a new value, or one of the variables or locals shared.
    static DataSet evaluate(const WsspNode* node, WsspContext& context);
    static void renderMenu(const WsspNode* menu, std::ostream& out, WsspContext& context);

    // The picture with ^D ^d ^M ^N ^n ^Y ^y ^s ^m ^H ^h ^t ^W filled in for
    // the time, in UTC or the local zone, with the given name arrays (months
    // from January, weekdays from Sunday, "AM" and "PM"); the first form
    // uses the English names.
    static std::string formatDate(time_t t, const std::string& picture, bool local);
    static std::string formatDate(time_t t, const std::string& picture, bool local, const DataSet& months,
                                  const DataSet& weekdays, const DataSet& dayHalves);

    // What an include handler is to the renderer.
    class IncludeHandler {
    public:
        virtual ~IncludeHandler();
        virtual WsspNode* page(const std::string& name) const = 0;
    };

private:
    template <class T>
    class MemberHandler : public IncludeHandler {
    public:
        MemberHandler(T* object, WsspNode* (T::*function)(const std::string&)) : object_(object), function_(function) {}
        WsspNode* page(const std::string& name) const override { return (object_->*function_)(name); }

    private:
        T* object_;
        WsspNode* (T::*function_)(const std::string&);
    };

    static void setHandler(std::shared_ptr<const IncludeHandler> handler);
};

template <class T>
void WSSPPage::setIncludeHandler(T* object, WsspNode* (T::*function)(const std::string& name)) {
    if (object == nullptr || function == nullptr)
        setHandler(nullptr);
    else
        setHandler(std::make_shared<MemberHandler<T>>(object, function));
}

// The position of the first element of the array whose string is the text,
// or, for a numeric text (digits, "-" and "."), reads as a number within
// 0.0001 of it; 0 when there is none or the list is no array.
unsigned wsspIndexInArray(const std::string& text, const DataSet& list);

// The string of the dictionary's member named by the text, or the text.
std::string wsspTranslate(const std::string& text, const DataSet& dictionary);

}  // namespace cgp

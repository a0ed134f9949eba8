// WSSP rendering: a page tree written with the values of a data set.
//
// Expressions are evaluated into a light value that either points at a
// value already among the variables or locals or holds the little a
// function word makes (a flag, a string): a render copies no data-set
// handle per expression, so renders on several threads do not meet on the
// handles' one mutex. Loop bindings and include arguments are kept aside in
// the context for the same reason; they read as the locals' members they
// stand for, and the locals end as the loops and includes leave them.
#include "serverdata/wssp.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "runtime/casefold.h"
#include "runtime/convert.h"
#include "runtime/mutex.h"
#include "serverdata/internal/wssp_format.h"

namespace cgp {

namespace {

using wssp::put;
using wssp::putHtml;
using wssp::readUnsigned;

// ---- values ----

// A value met while evaluating: a handle among the variables or locals
// (pointed at, valid while the render changes nothing), or one made here.
struct Value {
    const DataSet* held = nullptr;
    int type = DataSet::kEmpty;
    std::string text;

    int kind() const { return held != nullptr ? (*held)->getType() : type; }
    const std::string& string() const { return held != nullptr ? (*held)->value : text; }
    const data_set* data() const { return held != nullptr ? held->get() : nullptr; }
    bool truth() const {
        const std::string& s = string();
        return !s.empty() && s[0] != '-' && s[0] != '0' && s[0] != 'N' && s[0] != 'n';
    }
};

const std::string kYes = "YES";
const std::string kNo = "NO";
const std::string kIncludeArgKey = "INCLUDEARG";

Value heldValue(const DataSet* handle) {
    Value v;
    if (handle != nullptr && handle->get() != nullptr) v.held = handle;
    return v;
}

Value madeValue(int type, const std::string& text = std::string()) {
    Value v;
    v.type = type;
    v.text = text;
    return v;
}

// A flag keeps the kind it is given: a string, or empty for EXISTS(.
Value flagValue(bool flag, int type = DataSet::kString) { return madeValue(type, flag ? kYes : kNo); }

// The member of a value's dictionary, or null. get(), not isNull(): no lock
// for handles the render only reads.
const DataSet* memberOf(const data_set* value, const std::string& key) {
    if (value == nullptr) return nullptr;
    const auto found = value->members.find(key);
    if (found == value->members.end() || found->second.get() == nullptr) return nullptr;
    return &found->second;
}

const DataSet* memberOf(const DataSet& value, const std::string& key) { return memberOf(value.get(), key); }

const std::string& stringOf(const DataSet* handle) {
    static const std::string kNone;
    return handle != nullptr ? (*handle)->value : kNone;
}

DataSet toDataSet(const Value& v) {
    if (v.held != nullptr) return *v.held;
    DataSet made(v.type);
    made->value = v.text;
    return made;
}

// A copy of the value and of everything in it.
DataSet deepCopy(const data_set* from) {
    if (from == nullptr) return DataSet(DataSet::kEmpty);
    DataSet copy(from->getType());
    copy->value = from->value;
    copy->elements.reserve(from->elements.size());
    for (const DataSet& element : from->elements) copy->elements.push_back(deepCopy(element.get()));
    for (const auto& member : from->members) copy->members.emplace(member.first, deepCopy(member.second.get()));
    return copy;
}

// ---- the include handler ----

struct HandlerSlot {
    qdl::SimpleMutex mutex;
    std::shared_ptr<const WSSPPage::IncludeHandler> handler;
    // Moves on with every change; a render looks the handler up again only
    // when it has.
    std::atomic<unsigned> version{1};
};

// Never destroyed: a render on a thread that outlives the exit handlers
// still finds it.
HandlerSlot& handlerSlot() {
    static HandlerSlot* slot = new HandlerSlot;
    return *slot;
}

}  // namespace

// ---- the render's state ----

struct WsspContext::Render {
    // One per running loop, innermost last: x + "[]" and x + "[index]".
    struct Binding {
        const std::string* name;
        const DataSet* element;
        std::size_t index;
        bool bound;
    };
    std::vector<Binding> bindings;
    // The arguments of the include being rendered; none outside includes,
    // where the locals' own "INCLUDEARG" counts.
    const std::vector<std::string>* includeArgs = nullptr;
    int includeDepth = 0;
    int includedHeight = 0;  // of the pages being included
    unsigned handlerVersion = 0;
    std::shared_ptr<const WSSPPage::IncludeHandler> handler;

    const Binding* binding(const std::string& name) const {
        for (std::size_t i = bindings.size(); i-- > 0;)
            if (*bindings[i].name == name) return bindings[i].bound ? &bindings[i] : nullptr;
        return nullptr;
    }

    const WSSPPage::IncludeHandler* includeHandler() {
        HandlerSlot& slot = handlerSlot();
        const unsigned now = slot.version.load(std::memory_order_acquire);
        if (now != handlerVersion) {
            qdl::ScopedLock guard(slot.mutex);
            handler = slot.handler;
            handlerVersion = slot.version.load(std::memory_order_relaxed);
        }
        return handler.get();
    }
};

WsspContext::WsspContext(const DataSet& variables) : variables(variables), locals(DataSet::kDictionary) {
    locals->members.emplace(kIncludeArgKey, DataSet(DataSet::kArray));
}

WsspContext::~WsspContext() {}

WSSPPage::IncludeHandler::~IncludeHandler() {}

void WSSPPage::setHandler(std::shared_ptr<const IncludeHandler> handler) {
    HandlerSlot& slot = handlerSlot();
    qdl::ScopedLock guard(slot.mutex);
    slot.handler = std::move(handler);
    slot.version.fetch_add(1, std::memory_order_release);
}

namespace {

// ---- evaluation ----

class Renderer {
public:
    explicit Renderer(WsspContext& context, WsspContext::Render& state) : context_(context), state_(state) {}

    void execute(const WsspNode* node, std::ostream& out);
    Value evaluate(const WsspNode* node);
    DataSet evaluatePublic(const WsspNode* node);
    void renderMenu(const WsspNode* menu, std::ostream& out);

private:
    struct Counter {
        bool found = false;
        std::size_t index = 0;         // from a loop
        const std::string* text = nullptr;  // from the locals
        unsigned asUnsigned() const { return text != nullptr ? readUnsigned(*text) : static_cast<unsigned>(index); }
        std::string asString() const { return text != nullptr ? *text : std::to_string(index); }
    };

    static const WsspNode* child(const WsspNode* node, std::size_t i) {
        return i < node->children.size() ? node->children[i] : nullptr;
    }

    const DataSet* variable(const std::string& name) const { return memberOf(context_.variables, name); }

    const DataSet* element(const std::string& name) const {
        const WsspContext::Render::Binding* b = state_.binding(name);
        if (b != nullptr) return b->element != nullptr && b->element->get() != nullptr ? b->element : nullptr;
        return memberOf(context_.locals, name + "[]");
    }

    Counter counter(const std::string& name) const {
        Counter c;
        const WsspContext::Render::Binding* b = state_.binding(name);
        if (b != nullptr) {
            c.found = true;
            c.index = b->index;
            return c;
        }
        const DataSet* local = memberOf(context_.locals, name + "[index]");
        if (local != nullptr) {
            c.found = true;
            c.text = &(*local)->value;
        }
        return c;
    }

    Value includeArgument(int n) const {
        if (state_.includeArgs != nullptr) {
            if (n >= 0 && static_cast<std::size_t>(n) < state_.includeArgs->size())
                return madeValue(DataSet::kString, (*state_.includeArgs)[static_cast<std::size_t>(n)]);
            return madeValue(DataSet::kString);
        }
        const DataSet* args = memberOf(context_.locals, kIncludeArgKey);
        if (args != nullptr && n >= 0 && static_cast<std::size_t>(n) < (*args)->elements.size()) {
            Value v = heldValue(&(*args)->elements[static_cast<std::size_t>(n)]);
            if (v.held != nullptr) return v;
        }
        return madeValue(DataSet::kString);
    }

    Value evaluateOperator(const WsspNode* node);
    Value member(const WsspNode* node);
    std::string formatted(const WsspNode* format, const WsspNode* expression, const Value& value);
    // The picture a DATETIME( x ): format names: a quoted x, or the locals'
    // "DatePictures" member x; null for the format's own.
    const std::string* picture(const WsspNode* format) const;
    void writeInline(const WsspNode* node, std::ostream& out);
    void runLoop(const WsspNode* node, std::ostream& out);
    void include(const WsspNode* node, std::ostream& out);

    WsspContext& context_;
    WsspContext::Render& state_;
};

Value Renderer::evaluate(const WsspNode* node) {
    if (node == nullptr) return Value();
    switch (node->kind) {
    case WsspNode::kText:
        return madeValue(DataSet::kString, node->text);
    case WsspNode::kName:
        return heldValue(variable(node->text));
    case WsspNode::kLoopElement:
        return heldValue(element(node->text));
    case WsspNode::kInline: {
        const WsspNode* format = child(node, 0);
        const Value value = evaluate(child(node, 1));
        if (format == nullptr || format->kind != WsspNode::kOperator) return value;
        const int code = format->number;
        return madeValue(code == wssp::kIndex || code == wssp::kIndex1 ? DataSet::kString : value.kind(),
                         formatted(format, child(node, 1), value));
    }
    case WsspNode::kOperator:
        return evaluateOperator(node);
    default:
        return Value();
    }
}

DataSet Renderer::evaluatePublic(const WsspNode* node) {
    // An inline expression gives a copy of its value, formatted; the copy
    // holds copies of everything in the value, not the variables' own.
    if (node != nullptr && node->kind == WsspNode::kInline) {
        const WsspNode* format = child(node, 0);
        const Value value = evaluate(child(node, 1));
        DataSet copy = value.held != nullptr ? deepCopy(value.data()) : toDataSet(value);
        if (format != nullptr && format->kind == WsspNode::kOperator) {
            copy->value = formatted(format, child(node, 1), value);
            if (format->number == wssp::kIndex || format->number == wssp::kIndex1) copy->setType(DataSet::kString);
        }
        return copy;
    }
    return toDataSet(evaluate(node));
}

Value Renderer::member(const WsspNode* node) {
    const Value a = evaluate(child(node, 0));
    const WsspNode* key = child(node, 1);
    if (a.kind() != DataSet::kDictionary || key == nullptr ||
        (key->kind != WsspNode::kText && key->kind != WsspNode::kName))
        return Value();
    const DataSet* found = memberOf(a.data(), key->text);
    if (found == nullptr && a.data() != nullptr) {
        // The parent lives as long as the value that holds it.
        const DataSet parent = a.data()->getParent();
        found = memberOf(parent, key->text);
    }
    return heldValue(found);
}

Value Renderer::evaluateOperator(const WsspNode* node) {
    const WsspNode* first = child(node, 0);
    const WsspNode* second = child(node, 1);
    switch (node->number) {
    case wssp::kIncludeArg:
        return includeArgument(first != nullptr ? first->number : 0);
    case wssp::kExists:
        return flagValue(evaluate(first).kind() != DataSet::kEmpty, DataSet::kEmpty);
    case wssp::kDoesNotExist:
        return flagValue(evaluate(first).kind() == DataSet::kEmpty, DataSet::kEmpty);
    case wssp::kNot:
        return flagValue(!evaluate(first).truth());
    case wssp::kEquals:
        return flagValue(evaluate(first).string() == evaluate(second).string());
    case wssp::kEqualsNoCase: {
        const Value a = evaluate(first), b = evaluate(second);
        const std::string &x = a.string(), &y = b.string();
        bool same = x.size() == y.size();
        for (std::size_t i = 0; same && i < x.size(); ++i)
            same = qdl::lowerCaseTable[static_cast<unsigned char>(x[i])] ==
                   qdl::lowerCaseTable[static_cast<unsigned char>(y[i])];
        return flagValue(same);
    }
    case wssp::kIsIndex: {
        if (second == nullptr) return madeValue(DataSet::kString);
        const Counter c = counter(second->text);
        if (!c.found) return madeValue(DataSet::kString);
        return flagValue(c.asUnsigned() == readUnsigned(evaluate(first).string()));
    }
    case wssp::kIsFirst:
    case wssp::kIsEven: {
        if (first == nullptr) return madeValue(DataSet::kString);
        const Counter c = counter(first->text);
        if (!c.found) return madeValue(DataSet::kString);
        const unsigned n = c.asUnsigned();
        return flagValue(node->number == wssp::kIsFirst ? n == 0 : n % 2 == 0);
    }
    case wssp::kChecked:
        return madeValue(DataSet::kString, evaluate(first).truth() ? "checked=\"checked\"" : "");
    case wssp::kIsString:
        return flagValue(evaluate(first).kind() == DataSet::kString);
    case wssp::kIsArray:
        return flagValue(evaluate(first).kind() == DataSet::kArray);
    case wssp::kIsDictionary:
        return flagValue(evaluate(first).kind() == DataSet::kDictionary);
    case wssp::kIsData:
        return flagValue(evaluate(first).kind() == DataSet::kData);
    case wssp::kNull:
        return madeValue(DataSet::kEmpty);
    case wssp::kEmptyString:
        return madeValue(DataSet::kString);
    case wssp::kEmptyArray:
        return madeValue(DataSet::kArray);
    case wssp::kEmptyDictionary:
        return madeValue(DataSet::kDictionary);
    case wssp::kString:
    case wssp::kDictionary:
    case wssp::kArray: {
        const int wanted = node->number == wssp::kString       ? DataSet::kString
                           : node->number == wssp::kDictionary ? DataSet::kDictionary
                                                               : DataSet::kArray;
        const Value found = heldValue(variable(evaluate(first).string()));
        return found.kind() == wanted ? found : Value();
    }
    case wssp::kTranslate: {
        const Value a = evaluate(first);
        if (a.kind() != DataSet::kString) return Value();
        const Value b = evaluate(second);
        const DataSet* found = b.kind() == DataSet::kDictionary ? memberOf(b.data(), a.string()) : nullptr;
        return madeValue(DataSet::kString, found != nullptr ? stringOf(found) : a.string());
    }
    case wssp::kContains: {
        const Value a = evaluate(first);
        if (a.kind() != DataSet::kString) return flagValue(false);
        const Value b = evaluate(second);
        const std::string& needle = a.string();
        bool found = false;
        if (b.kind() == DataSet::kArray && b.data() != nullptr) {
            for (const DataSet& e : b.data()->elements)
                if (e.get() != nullptr && e->value == needle) {
                    found = true;
                    break;
                }
        } else if (b.kind() == DataSet::kString) {
            found = b.string().find(needle) != std::string::npos;
        } else if (b.kind() == DataSet::kDictionary) {
            found = memberOf(b.data(), needle) != nullptr;
        }
        return flagValue(found);
    }
    case wssp::kMember:
        return member(node);
    case wssp::kAnd: {
        const bool a = evaluate(first).truth();
        const bool b = evaluate(second).truth();
        return flagValue(a && b);
    }
    case wssp::kOr: {
        const bool a = evaluate(first).truth();
        const bool b = evaluate(second).truth();
        return flagValue(a || b);
    }
    default:
        // HASPARENTMAILBOX(, ISDATE(, RANDOMELEMENT(, MONTHNAMES(, WEEKDAYS(,
        // KNOWNCHARSETS(, KNOWNTIMEZONES( and the formats: no value.
        return Value();
    }
}

std::string Renderer::formatted(const WsspNode* format, const WsspNode* expression, const Value& value) {
    const std::string& s = value.string();
    const int code = format->number;
    if (wssp::isHtmlFormat(code)) return wssp::html(s);
    if (wssp::isUrlFormat(code)) return wssp::urlEncoded(s);
    if (code == wssp::kJavaScript) return wssp::javaScript(s);
    if (wssp::isDateFormat(code))
        return wssp::formattedDate(code, static_cast<time_t>(readUnsigned(s)), picture(format));
    if (code != wssp::kIndex1 && code != wssp::kIndex) return s;
    if (expression == nullptr) return s;
    const Counter c = counter(expression->text);
    if (!c.found) return s;
    if (code == wssp::kIndex) return c.asString();
    const long long n = c.text != nullptr ? qdl::stringToInt(*c.text) : static_cast<long long>(c.index);
    return std::to_string(n + 1);
}

const std::string* Renderer::picture(const WsspNode* format) const {
    const WsspNode* argument = child(format, 0);
    if (argument != nullptr && argument->kind == WsspNode::kText) return &argument->text;
    if (argument != nullptr && argument->kind == WsspNode::kName) {
        const DataSet* pictures = memberOf(context_.locals, "DatePictures");
        const DataSet* found = memberOf(pictures != nullptr ? pictures->get() : nullptr, argument->text);
        if (found != nullptr) return &stringOf(found);
    }
    return nullptr;
}

void Renderer::writeInline(const WsspNode* node, std::ostream& out) {
    const WsspNode* format = child(node, 0);
    const WsspNode* expression = child(node, 1);
    const Value value = evaluate(expression);
    if (format == nullptr || format->kind != WsspNode::kOperator) {
        put(out, value.string());
        return;
    }
    if (wssp::isHtmlFormat(format->number)) {
        putHtml(out, value.string());
        return;
    }
    switch (format->number) {
    case wssp::kJavaScript:
        wssp::putJavaScript(out, value.string());
        return;
    case wssp::kUrl:
    case wssp::kUrlMailboxParent:
    case wssp::kDateTimeShort:
    case wssp::kLocalDateTimeShort:
    case wssp::kDateTime:
    case wssp::kLocalDateTime:
    case wssp::kLocalDate:
    case wssp::kDate:
    case wssp::kDateWeek:
    case wssp::kIndex1:
    case wssp::kIndex:
        put(out, formatted(format, expression, value));
        return;
    default:
        put(out, value.string());
        return;
    }
}

void Renderer::runLoop(const WsspNode* node, std::ostream& out) {
    const Value collection = evaluate(child(node, 0));
    if (collection.kind() != DataSet::kArray || collection.data() == nullptr || collection.data()->elements.empty()) {
        execute(child(node, 2), out);
        return;
    }
    // Held for the loop: the body may rebind what the collection came from.
    const DataSet list = *collection.held;
    const WsspNode* body = child(node, 1);
    const std::string& name = node->text;

    struct Bound {
        WsspContext& context;
        WsspContext::Render& state;
        const std::string& name;
        Bound(WsspContext& c, WsspContext::Render& s, const std::string& n) : context(c), state(s), name(n) {
            state.bindings.push_back({&name, nullptr, 0, false});
        }
        // The loop's end removes x + "[]" and x + "[index]", also those an
        // outer loop over the same name set.
        ~Bound() {
            state.bindings.pop_back();
            for (auto& b : state.bindings)
                if (*b.name == name) b.bound = false;
            if (context.locals.get() != nullptr && !context.locals->members.empty()) {
                context.locals->members.erase(name + "[]");
                context.locals->members.erase(name + "[index]");
            }
        }
    } bound(context_, state_, name);
    const std::size_t slot = state_.bindings.size() - 1;

    const data_set::Elements& elements = list->elements;
    for (std::size_t i = 0; i < elements.size() && out.good(); ++i) {
        WsspContext::Render::Binding& b = state_.bindings[slot];
        b.element = &elements[i];
        b.index = i;
        b.bound = true;
        execute(body, out);
    }
}

void Renderer::include(const WsspNode* node, std::ostream& out) {
    const WSSPPage::IncludeHandler* handler = state_.includeHandler();
    if (handler == nullptr) {
        put(out, "[INTERNAL ERROR, INCLUDE HANDLER NOT SET]");
        return;
    }
    if (state_.includeDepth >= wssp::kMaxIncludeDepth) {
        put(out, "[ERROR, INCLUDED FILE '" + node->text + "' NESTED TOO DEEPLY]");
        return;
    }
    const WsspNode* page = handler->page(node->text);
    if (page == nullptr) {
        put(out, "[ERROR, INCLUDED FILE '" + node->text + "' NOT FOUND]");
        return;
    }
    if (state_.includedHeight + page->height() > wssp::kMaxIncludedHeight) {
        put(out, "[ERROR, INCLUDED FILE '" + node->text + "' NESTED TOO DEEPLY]");
        return;
    }
    std::vector<std::string> arguments;
    arguments.reserve(node->children.size());
    for (const WsspNode* argument : node->children) {
        // What an expression writes is its value's string; no stream.
        const int kind = argument != nullptr ? argument->kind : WsspNode::kEmpty;
        if (kind == WsspNode::kText || kind == WsspNode::kName || kind == WsspNode::kOperator ||
            kind == WsspNode::kLoopElement) {
            arguments.push_back(evaluate(argument).string());
        } else {
            std::ostringstream text;
            execute(argument, text);
            arguments.push_back(text.str());
        }
    }
    struct Entered {
        WsspContext::Render& state;
        const std::vector<std::string>* saved;
        const int height;
        Entered(WsspContext::Render& s, const std::vector<std::string>* args, int h)
            : state(s), saved(s.includeArgs), height(h) {
            state.includeArgs = args;
            ++state.includeDepth;
            state.includedHeight += height;
        }
        ~Entered() {
            state.includeArgs = saved;
            --state.includeDepth;
            state.includedHeight -= height;
        }
    } entered(state_, &arguments, page->height());
    execute(page, out);
}

void Renderer::execute(const WsspNode* node, std::ostream& out) {
    if (node == nullptr) return;
    switch (node->kind) {
    case WsspNode::kText:
        put(out, node->text);
        break;
    case WsspNode::kNumber:
        put(out, std::to_string(node->number));
        break;
    case WsspNode::kName:
        put(out, stringOf(variable(node->text)));
        break;
    case WsspNode::kInline:
        writeInline(node, out);
        break;
    case WsspNode::kOperator:
        // The operator's own value: "x.y" writes the member, not x.
        put(out, evaluate(node).string());
        break;
    case WsspNode::kLoopElement:
        put(out, stringOf(element(node->text)));
        break;
    case WsspNode::kMenu:
        renderMenu(node, out);
        break;
    case WsspNode::kConditional: {
        const std::size_t n = node->children.size();
        for (std::size_t i = 0; i < n; i += 2) {
            if (i + 1 == n) {
                execute(node->children[i], out);
                break;
            }
            if (evaluate(node->children[i]).truth()) {
                execute(node->children[i + 1], out);
                break;
            }
        }
        break;
    }
    case WsspNode::kLoop:
        runLoop(node, out);
        break;
    case WsspNode::kSequence:
        // An output that failed takes nothing more: the rest is not walked.
        for (std::size_t i = 0; i < node->children.size() && out.good(); ++i) execute(node->children[i], out);
        break;
    case WsspNode::kInclude:
        include(node, out);
        break;
    default:
        break;
    }
}

// ---- menus ----

struct MenuEntry {
    std::string value;
    std::string text;
};

std::string translated(const std::string& text, const Value& display) {
    const DataSet* found = display.kind() == DataSet::kDictionary ? memberOf(display.data(), text) : nullptr;
    return found != nullptr ? stringOf(found) : text;
}

unsigned indexInArray(const std::string& text, const data_set* list) {
    if (list == nullptr || list->getType() != DataSet::kArray) return 0;
    const bool numeric = !text.empty() && text.find_first_not_of("0123456789-.") == std::string::npos;
    const float number = numeric ? static_cast<float>(std::atof(text.c_str())) : 0.0f;
    for (std::size_t i = 0; i < list->elements.size(); ++i) {
        const std::string& s = stringOf(list->elements[i].get() != nullptr ? &list->elements[i] : nullptr);
        if (s == text) return static_cast<unsigned>(i);
        if (numeric && std::fabs(static_cast<float>(std::atof(s.c_str())) - number) < 0.0001f)
            return static_cast<unsigned>(i);
    }
    return 0;
}

void Renderer::renderMenu(const WsspNode* menu, std::ostream& out) {
    if (menu == nullptr) return;
    const int code = menu->number;
    if (code != wssp::kNumericMenu && code != wssp::kEnumMenu && code != wssp::kStringMenu &&
        code != wssp::kBoolMenu) {
        put(out, "NOT IMPLEMENTED");
        return;
    }
    const Value variable = evaluate(child(menu, 0));
    const Value list = evaluate(child(menu, 1));
    const Value defaultValue = evaluate(child(menu, 2));
    const Value display = evaluate(child(menu, 3));
    const bool hasDefault = defaultValue.kind() != DataSet::kEmpty;
    const std::string& v = variable.string();

    std::vector<MenuEntry> entries;
    std::size_t k = 0;
    if (code == wssp::kNumericMenu) {
        if (hasDefault) entries.push_back({"-1", translated(defaultValue.string(), display) + " *"});
        const int defaultNumber = qdl::stringToInt(defaultValue.string());
        const int wanted = qdl::stringToInt(v);
        bool matched = false;
        const WsspNode* numbers = child(menu, 1);
        if (numbers != nullptr) {
            for (std::size_t i = 0; i < numbers->children.size(); ++i) {
                const WsspNode* n = numbers->children[i];
                if (n == nullptr) continue;
                const std::string value = std::to_string(n->number);
                std::string text = translated(value, display);
                if (hasDefault && n->number == defaultNumber) text += " *";
                entries.push_back({value, text});
                if (!matched && n->number == wanted) {
                    k = i;
                    matched = true;
                }
            }
        }
        if (!matched) k = indexInArray(v, list.data());
    } else if (code == wssp::kEnumMenu || code == wssp::kStringMenu) {
        std::size_t defaultAt = static_cast<std::size_t>(-1);
        if (hasDefault) {
            entries.push_back({"-1", translated(defaultValue.string(), display) + " *"});
            defaultAt = indexInArray(defaultValue.string(), list.data());
        }
        if (list.kind() == DataSet::kArray && list.data() != nullptr) {
            const data_set::Elements& elements = list.data()->elements;
            for (std::size_t i = 0; i < elements.size(); ++i) {
                const std::string& s = stringOf(elements[i].get() != nullptr ? &elements[i] : nullptr);
                std::string text = translated(s, display);
                if (i == defaultAt) text += " *";
                entries.push_back({code == wssp::kEnumMenu ? std::to_string(i) : s, text});
            }
        }
        k = indexInArray(v, list.data());
    } else {
        if (hasDefault) entries.push_back({"-1", translated(defaultValue.truth() ? kYes : kNo, display) + " *"});
        entries.push_back({"0", translated(kNo, display)});
        entries.push_back({"1", translated(kYes, display)});
        k = variable.truth() ? 1 : 0;
    }

    // The default entry leads the written list: positions in the list of
    // values come one later.
    std::size_t selected = hasDefault ? k + 1 : k;
    if (hasDefault && qdl::stringToInt(v) == -1) selected = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        put(out, "<option value=\"");
        putHtml(out, entries[i].value);
        put(out, i == selected ? "\" selected=\"selected\">" : "\">");
        putHtml(out, entries[i].text);
        put(out, "</option>");
    }
}

}  // namespace

// ---- entry points ----

void WSSPPage::render(const WsspNode* root, std::ostream& out, const DataSet& variables) {
    WsspContext context(variables);
    execute(root, out, context);
}

void WSSPPage::execute(const WsspNode* node, std::ostream& out, WsspContext& context) {
    if (!context.render_) context.render_.reset(new WsspContext::Render);
    Renderer(context, *context.render_).execute(node, out);
}

DataSet WSSPPage::evaluate(const WsspNode* node, WsspContext& context) {
    if (!context.render_) context.render_.reset(new WsspContext::Render);
    return Renderer(context, *context.render_).evaluatePublic(node);
}

void WSSPPage::renderMenu(const WsspNode* menu, std::ostream& out, WsspContext& context) {
    if (!context.render_) context.render_.reset(new WsspContext::Render);
    Renderer(context, *context.render_).renderMenu(menu, out);
}

unsigned wsspIndexInArray(const std::string& text, const DataSet& list) { return indexInArray(text, list.get()); }

std::string wsspTranslate(const std::string& text, const DataSet& dictionary) {
    const data_set* d = dictionary.get();
    const DataSet* found = d != nullptr && d->getType() == DataSet::kDictionary ? memberOf(d, text) : nullptr;
    return found != nullptr ? stringOf(found) : text;
}

}  // namespace cgp

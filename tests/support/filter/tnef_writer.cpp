#include "support/filter/tnef_writer.h"

#include <stdexcept>

namespace testsupport {

namespace {

// MAPI values of variable length are padded to a multiple of four bytes.
void pad4(std::string& out) {
    while (out.size() % 4 != 0) out.push_back('\0');
}

}  // namespace

TnefWriter::TnefWriter() = default;

TnefWriter& TnefWriter::setKey(std::uint16_t key) {
    key_ = key;
    return *this;
}

TnefWriter& TnefWriter::setMessageClass(const std::string& messageClass) {
    messageClass_ = messageClass;
    return *this;
}

TnefWriter& TnefWriter::setSubject(const std::string& subject) {
    subject_ = subject;
    return *this;
}

TnefWriter& TnefWriter::setTextBody(const std::string& text) {
    hasTextBody_ = true;
    textBody_ = text;
    return *this;
}

TnefWriter& TnefWriter::setRtfBody(const std::string& rtf, RtfForm form) {
    hasRtfBody_ = true;
    rtfBody_ = rtf;
    rtfForm_ = form;
    return *this;
}

TnefWriter& TnefWriter::setHtmlBody(const std::string& html) {
    hasHtmlBody_ = true;
    htmlBody_ = html;
    return *this;
}

TnefWriter& TnefWriter::addMessageProperty(const MapiProperty& property) {
    messageProperties_.push_back(property);
    return *this;
}

TnefWriter& TnefWriter::addRawAttribute(std::uint8_t level, std::uint32_t id, const std::string& data) {
    raw_.push_back(Raw{level, id, data});
    return *this;
}

TnefAttachment& TnefWriter::addAttachment(const std::string& name, const std::string& data,
                                          const std::string& title) {
    TnefAttachment a;
    if (title.empty()) {
        a.title = name;
    } else {
        a.title = title;
        a.longName = name;
    }
    a.data = data;
    return addAttachment(a);
}

TnefAttachment& TnefWriter::addAttachment(const TnefAttachment& attachment) {
    attachments_.push_back(attachment);
    return attachments_.back();
}

TnefWriter& TnefWriter::setSignature(std::uint32_t signature) {
    signature_ = signature;
    return *this;
}

TnefWriter& TnefWriter::truncateAt(std::size_t size) {
    truncate_ = true;
    truncateAt_ = size;
    return *this;
}

TnefWriter& TnefWriter::breakChecksum(std::uint32_t id, std::size_t occurrence) {
    broken_.push_back(Broken{id, occurrence});
    return *this;
}

TnefWriter& TnefWriter::appendGarbage(const std::string& trailing) {
    garbage_ += trailing;
    return *this;
}

std::string TnefWriter::le16(std::uint16_t v) {
    std::string s(2, '\0');
    s[0] = static_cast<char>(v & 0xFF);
    s[1] = static_cast<char>((v >> 8) & 0xFF);
    return s;
}

std::string TnefWriter::le32(std::uint32_t v) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
    return s;
}

std::uint16_t TnefWriter::checksum(const std::string& data) {
    std::uint32_t sum = 0;
    for (unsigned char c : data) sum += c;
    return static_cast<std::uint16_t>(sum & 0xFFFF);
}

std::string TnefWriter::attribute(std::uint8_t level, std::uint32_t id, const std::string& data,
                                  bool badChecksum) {
    std::string out;
    out.push_back(static_cast<char>(level));
    out += le32(id);
    out += le32(static_cast<std::uint32_t>(data.size()));
    out += data;
    std::uint16_t sum = checksum(data);
    if (badChecksum) sum = static_cast<std::uint16_t>(sum ^ 0x5A5A);
    out += le16(sum);
    return out;
}

std::string TnefWriter::mapiProperties(const std::vector<MapiProperty>& properties) {
    std::string out = le32(static_cast<std::uint32_t>(properties.size()));
    for (const MapiProperty& p : properties) {
        out += le16(p.type);
        out += le16(p.id);
        switch (p.type) {
        case tnef::kPtString8: {
            std::string v = p.value;
            v.push_back('\0');
            out += le32(1);
            out += le32(static_cast<std::uint32_t>(v.size()));
            out += v;
            pad4(out);
            break;
        }
        case tnef::kPtUnicode: {
            std::string v = p.value;
            v.append(2, '\0');
            out += le32(1);
            out += le32(static_cast<std::uint32_t>(v.size()));
            out += v;
            pad4(out);
            break;
        }
        case tnef::kPtBinary:
            out += le32(1);
            out += le32(static_cast<std::uint32_t>(p.value.size()));
            out += p.value;
            pad4(out);
            break;
        default:
            // Fixed-size values (PT_LONG and kin) are written as given.
            out += p.value;
            pad4(out);
            break;
        }
    }
    return out;
}

std::string TnefWriter::storedRtf(const std::string& rtf) {
    const auto raw = static_cast<std::uint32_t>(rtf.size());
    std::string out;
    out += le32(raw + 12);       // size of everything after this field
    out += le32(raw);            // size of the text
    out += le32(0x414C454D);     // "MELA": stored, not compressed
    out += le32(0);              // no CRC for stored data
    out += rtf;
    return out;
}

std::uint32_t TnefWriter::rtfCrc(const std::string& data) {
    std::uint32_t table[256];
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t c = i;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[i] = c;
    }
    std::uint32_t crc = 0;
    for (unsigned char b : data) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
    return crc;
}

std::string TnefWriter::compressedRtf(const std::string& rtf, bool badCrc) {
    // The decoder's dictionary starts with a 207-byte preset text; literals
    // advance its write position, and a reference to that position ends the
    // data.
    std::size_t position = 207;
    std::string packed;
    std::size_t i = 0;
    for (bool done = false; !done;) {
        unsigned char control = 0;
        std::string run;
        for (int k = 0; k < 8; ++k) {
            if (i < rtf.size()) {
                run.push_back(rtf[i++]);
                position = (position + 1) % 4096;
                continue;
            }
            control = static_cast<unsigned char>(control | (1u << k));
            const auto ref = static_cast<std::uint16_t>(position << 4);
            run.push_back(static_cast<char>(ref >> 8));
            run.push_back(static_cast<char>(ref & 0xFF));
            done = true;
            break;
        }
        packed.push_back(static_cast<char>(control));
        packed += run;
    }
    std::uint32_t crc = rtfCrc(packed);
    if (badCrc) crc ^= 0x01010101u;
    std::string out;
    out += le32(static_cast<std::uint32_t>(packed.size() + 12));
    out += le32(static_cast<std::uint32_t>(rtf.size()));
    out += le32(0x75465A4C);  // "LZFu"
    out += le32(crc);
    out += packed;
    return out;
}

std::string TnefWriter::date(const TnefDate& d) {
    return le16(d.year) + le16(d.month) + le16(d.day) + le16(d.hour) + le16(d.minute) + le16(d.second) +
           le16(d.dayOfWeek);
}

std::string TnefWriter::renddata() {
    // atyp 1 (file), position unknown (0xFFFFFFFF), 32 x 32, no flags.
    return le16(1) + le32(0xFFFFFFFF) + le16(32) + le16(32) + le32(0);
}

std::string TnefWriter::utf16le(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size();) {
        const auto c = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp;
        std::size_t n;
        if (c < 0x80) {
            cp = c;
            n = 1;
        } else if ((c & 0xE0) == 0xC0) {
            cp = c & 0x1F;
            n = 2;
        } else if ((c & 0xF0) == 0xE0) {
            cp = c & 0x0F;
            n = 3;
        } else {
            throw std::invalid_argument("utf16le: only BMP characters are supported");
        }
        if (i + n > utf8.size()) throw std::invalid_argument("utf16le: truncated UTF-8");
        for (std::size_t k = 1; k < n; ++k) cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        out += le16(static_cast<std::uint16_t>(cp));
        i += n;
    }
    return out;
}

std::string TnefWriter::build(std::vector<TnefSpan>* spans) const {
    std::string out = le32(signature_) + le16(key_);
    std::vector<std::size_t> seen;  // per broken_ entry: occurrences met so far
    seen.assign(broken_.size(), 0);

    auto emit = [&](std::uint8_t level, std::uint32_t id, const std::string& data) {
        bool bad = false;
        for (std::size_t i = 0; i < broken_.size(); ++i) {
            if (broken_[i].id != id) continue;
            if (seen[i]++ == broken_[i].occurrence) bad = true;
        }
        const std::size_t offset = out.size();
        out += attribute(level, id, data, bad);
        if (spans) spans->push_back(TnefSpan{level, id, offset, offset + 9, data.size(), out.size()});
    };
    auto cstr = [](const std::string& s) { return s + std::string(1, '\0'); };

    emit(tnef::kLevelMessage, tnef::kAttTnefVersion, le32(0x00010000));
    emit(tnef::kLevelMessage, tnef::kAttOemCodepage, le32(1252) + le32(0));
    if (!messageClass_.empty()) emit(tnef::kLevelMessage, tnef::kAttMessageClass, cstr(messageClass_));
    if (!subject_.empty()) emit(tnef::kLevelMessage, tnef::kAttSubject, cstr(subject_));
    if (hasTextBody_) emit(tnef::kLevelMessage, tnef::kAttBody, textBody_);

    std::vector<MapiProperty> props;
    if (hasRtfBody_) {
        const std::string value = rtfForm_ == RtfForm::Stored
                                      ? storedRtf(rtfBody_)
                                      : compressedRtf(rtfBody_, rtfForm_ == RtfForm::CompressedBadCrc);
        props.push_back(MapiProperty{tnef::kPtBinary, tnef::kPrRtfCompressed, value});
    }
    if (hasHtmlBody_) props.push_back(MapiProperty{tnef::kPtBinary, tnef::kPrHtml, htmlBody_});
    props.insert(props.end(), messageProperties_.begin(), messageProperties_.end());
    if (!props.empty()) emit(tnef::kLevelMessage, tnef::kAttMapiProps, mapiProperties(props));

    for (const Raw& r : raw_)
        if (r.level == tnef::kLevelMessage) emit(r.level, r.id, r.data);

    for (const TnefAttachment& a : attachments_) {
        emit(tnef::kLevelAttachment, tnef::kAttAttachRenddata, renddata());
        if (a.withModifyDate) emit(tnef::kLevelAttachment, tnef::kAttAttachModifyDate, date(a.modifyDate));
        if (a.dataBeforeTitle) emit(tnef::kLevelAttachment, tnef::kAttAttachData, a.data);
        if (!a.title.empty()) emit(tnef::kLevelAttachment, tnef::kAttAttachTitle, cstr(a.title));
        if (!a.dataBeforeTitle) emit(tnef::kLevelAttachment, tnef::kAttAttachData, a.data);

        std::vector<MapiProperty> ap;
        if (!a.longName.empty()) {
            if (a.unicodeLongName)
                ap.push_back(MapiProperty{tnef::kPtUnicode, tnef::kPrAttachLongFilename, utf16le(a.longName)});
            else
                ap.push_back(MapiProperty{tnef::kPtString8, tnef::kPrAttachLongFilename, a.longName});
        }
        if (!a.mimeType.empty())
            ap.push_back(MapiProperty{tnef::kPtString8, tnef::kPrAttachMimeTag, a.mimeType});
        if (!a.contentId.empty())
            ap.push_back(MapiProperty{tnef::kPtString8, tnef::kPrAttachContentId, a.contentId});
        ap.insert(ap.end(), a.extraProperties.begin(), a.extraProperties.end());
        if (!ap.empty()) emit(tnef::kLevelAttachment, tnef::kAttAttachment, mapiProperties(ap));
    }

    for (const Raw& r : raw_)
        if (r.level != tnef::kLevelMessage) emit(r.level, r.id, r.data);
    return out;
}

std::string TnefWriter::bytes() const {
    std::string out = build(nullptr) + garbage_;
    if (truncate_ && truncateAt_ < out.size()) out.resize(truncateAt_);
    return out;
}

std::vector<TnefSpan> TnefWriter::layout() const {
    std::vector<TnefSpan> spans;
    build(&spans);
    return spans;
}

TnefSpan TnefWriter::span(std::uint32_t id, std::size_t occurrence) const {
    for (const TnefSpan& s : layout()) {
        if (s.id != id) continue;
        if (occurrence == 0) return s;
        --occurrence;
    }
    throw std::out_of_range("TnefWriter::span: no such attribute");
}

}  // namespace testsupport

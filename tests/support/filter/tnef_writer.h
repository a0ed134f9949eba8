#pragma once
// Builds TNEF (winmail.dat) byte streams for tests, including deliberately
// broken ones, so that no test depends on sample files.
//
//   testsupport::TnefWriter w;
//   w.addAttachment("report.pdf", bytes, "REPORT~1.PDF");
//   w.setRtfBody("{\\rtf1 Hello}");
//   std::string data = w.bytes();
//
// Layout of the stream: signature (LE 0x223E9F78), 16-bit legacy key, the
// message attributes (TNEF version, OEM code page, message class, optional
// subject and text body, optional MAPI properties with the RTF body, any raw
// attributes added), then per attachment: rendering data, modification date,
// title, data and, when there is anything to carry, the attachment's MAPI
// properties. Each attribute: level byte, 32-bit id (type << 16 | id),
// 32-bit length, data, 16-bit checksum (sum of the data bytes mod 65536).
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace testsupport {

// TNEF attribute ids (type in the high word, id in the low word), named
// after the format's own att*, PT_* and PR_* names.
namespace tnef {
constexpr std::uint32_t kSignature = 0x223E9F78;
constexpr std::uint8_t kLevelMessage = 1;
constexpr std::uint8_t kLevelAttachment = 2;

constexpr std::uint32_t kAttSubject = 0x00018004;
constexpr std::uint32_t kAttMessageClass = 0x00078008;
constexpr std::uint32_t kAttBody = 0x0002800C;
constexpr std::uint32_t kAttAttachData = 0x0006800F;
constexpr std::uint32_t kAttAttachTitle = 0x00018010;
constexpr std::uint32_t kAttAttachModifyDate = 0x00038013;
constexpr std::uint32_t kAttAttachRenddata = 0x00069002;
constexpr std::uint32_t kAttMapiProps = 0x00069003;
constexpr std::uint32_t kAttAttachment = 0x00069005;
constexpr std::uint32_t kAttTnefVersion = 0x00089006;
constexpr std::uint32_t kAttOemCodepage = 0x00069007;

// MAPI property types and tags used here.
constexpr std::uint16_t kPtLong = 0x0003;
constexpr std::uint16_t kPtString8 = 0x001E;
constexpr std::uint16_t kPtUnicode = 0x001F;
constexpr std::uint16_t kPtBinary = 0x0102;
constexpr std::uint16_t kPrRtfCompressed = 0x1009;
constexpr std::uint16_t kPrHtml = 0x1013;
constexpr std::uint16_t kPrAttachLongFilename = 0x3707;
constexpr std::uint16_t kPrAttachMimeTag = 0x370E;
constexpr std::uint16_t kPrAttachContentId = 0x3712;
}  // namespace tnef

// A TNEF date value (attDate: seven little-endian 16-bit words).
struct TnefDate {
    std::uint16_t year = 2024, month = 3, day = 15;
    std::uint16_t hour = 10, minute = 20, second = 30;
    std::uint16_t dayOfWeek = 5;
};

// One MAPI property of a property block. `value` holds the raw value bytes:
// the string (without its NUL; one is added) for kPtString8, UTF-16LE bytes
// (without the terminator) for kPtUnicode, the bytes for kPtBinary, four
// little-endian bytes for kPtLong.
struct MapiProperty {
    std::uint16_t type = tnef::kPtString8;
    std::uint16_t id = 0;
    std::string value;
};

struct TnefAttachment {
    std::string title;        // attAttachTitle (the 8.3 name); omitted when empty
    std::string longName;     // PR_ATTACH_LONG_FILENAME; omitted when empty
    bool unicodeLongName = false;  // write the long name as PT_UNICODE (from UTF-8)
    std::string data;         // attAttachData
    std::string mimeType;     // PR_ATTACH_MIME_TAG; omitted when empty
    std::string contentId;    // PR_ATTACH_CONTENT_ID; omitted when empty
    TnefDate modifyDate;      // attAttachModifyDate
    bool withModifyDate = true;
    bool dataBeforeTitle = false;  // some senders write the data first
    std::vector<MapiProperty> extraProperties;  // appended to the attachment's MAPI block
};

// Where one attribute ended up in the stream made by bytes().
struct TnefSpan {
    std::uint8_t level;
    std::uint32_t id;
    std::size_t offset;      // of the level byte
    std::size_t dataOffset;  // of the first data byte
    std::size_t dataLength;
    std::size_t end;         // one past the checksum
};

class TnefWriter {
public:
    TnefWriter();

    // Message attributes.
    TnefWriter& setKey(std::uint16_t key);
    TnefWriter& setMessageClass(const std::string& messageClass);  // "" leaves it out
    TnefWriter& setSubject(const std::string& subject);
    TnefWriter& setTextBody(const std::string& text);              // attBody
    // How the RTF body travels in PR_RTF_COMPRESSED. tnef 1.4.18 decodes
    // the compressed form exactly; of the stored ("MELA") form it saves the
    // 12 header bytes after the first size field and then only the first
    // rawSize - 12 bytes of the text.
    enum class RtfForm {
        Compressed,        // "LZFu", literal runs only, with its CRC
        CompressedBadCrc,  // the same with a wrong CRC
        Stored,            // "MELA", CRC 0
    };
    TnefWriter& setRtfBody(const std::string& rtf, RtfForm form = RtfForm::Compressed);
    TnefWriter& setHtmlBody(const std::string& html);              // PR_HTML
    TnefWriter& addMessageProperty(const MapiProperty& property);
    // Any attribute, written after the other message attributes (level 1)
    // or after the attachments (level 2 or anything else).
    TnefWriter& addRawAttribute(std::uint8_t level, std::uint32_t id, const std::string& data);

    // Adds an attachment named `name`. With a `title` the name travels as
    // the long file name in the attachment's MAPI block and `title` is the
    // 8.3 title; without one `name` is the title and no MAPI block is
    // written. The reference stays valid while the writer lives.
    TnefAttachment& addAttachment(const std::string& name, const std::string& data,
                                  const std::string& title = std::string());
    TnefAttachment& addAttachment(const TnefAttachment& attachment);

    // Damage, applied by bytes().
    TnefWriter& setSignature(std::uint32_t signature);  // e.g. a wrong one
    TnefWriter& truncateAt(std::size_t size);            // cut the output at `size` bytes
    // Gives the n-th attribute with this id (0 = first) a wrong checksum.
    TnefWriter& breakChecksum(std::uint32_t id, std::size_t occurrence = 0);
    TnefWriter& appendGarbage(const std::string& trailing);  // bytes after the last attribute

    std::string bytes() const;
    // The attributes of the undamaged stream, in order.
    std::vector<TnefSpan> layout() const;
    // The first span with this id (the n-th with `occurrence`); throws when absent.
    TnefSpan span(std::uint32_t id, std::size_t occurrence = 0) const;

    // Building blocks, public for tests of the format itself.
    static std::uint16_t checksum(const std::string& data);
    static std::string attribute(std::uint8_t level, std::uint32_t id, const std::string& data,
                                 bool badChecksum = false);
    static std::string mapiProperties(const std::vector<MapiProperty>& properties);
    // PR_RTF_COMPRESSED values. Both start with compSize (the bytes after
    // it), rawSize, the type and the CRC. Stored: "MELA", CRC 0, the text.
    // Compressed: "LZFu", the CRC of the compressed bytes, then the text as
    // literal runs ended by the reference that marks the end.
    static std::string storedRtf(const std::string& rtf);
    static std::string compressedRtf(const std::string& rtf, bool badCrc = false);
    // CRC-32 as the compressed-RTF format uses it: initial 0, no final xor.
    static std::uint32_t rtfCrc(const std::string& data);
    static std::string date(const TnefDate& d);
    static std::string renddata();
    static std::string utf16le(const std::string& utf8);  // BMP only
    static std::string le16(std::uint16_t v);
    static std::string le32(std::uint32_t v);

private:
    std::string build(std::vector<TnefSpan>* spans) const;

    std::uint32_t signature_ = tnef::kSignature;
    std::uint16_t key_ = 0x0001;
    std::string messageClass_ = "IPM.Microsoft Mail.Note";
    std::string subject_;
    bool hasTextBody_ = false;
    std::string textBody_;
    bool hasRtfBody_ = false;
    std::string rtfBody_;
    RtfForm rtfForm_ = RtfForm::Compressed;
    bool hasHtmlBody_ = false;
    std::string htmlBody_;
    std::vector<MapiProperty> messageProperties_;
    struct Raw {
        std::uint8_t level;
        std::uint32_t id;
        std::string data;
    };
    std::vector<Raw> raw_;
    std::deque<TnefAttachment> attachments_;
    bool truncate_ = false;
    std::size_t truncateAt_ = 0;
    struct Broken {
        std::uint32_t id;
        std::size_t occurrence;
    };
    std::vector<Broken> broken_;
    std::string garbage_;
};

}  // namespace testsupport

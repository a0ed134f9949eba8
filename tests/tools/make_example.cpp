// Writes the bundled example: a queued message whose TNEF part, made by our
// own TNEF writer, carries two attachments and an RTF body.
//
//   make_example OUTPUT-FILE
#include <fstream>
#include <iostream>

#include "support/filter/message_builder.h"
#include "support/filter/tnef_writer.h"

using namespace testsupport;

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_example OUTPUT-FILE\n";
        return 2;
    }
    TnefWriter w;
    w.setSubject("Quarterly figures");
    w.setRtfBody("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 Arial;}}\\f0\\fs20 Hello,\\par Here are the "
                 "{\\b quarterly figures}.\\par Regards\\par}");
    w.addAttachment("Quarterly figures.csv", "quarter,revenue\nQ1,1200\nQ2,1350\nQ3,1410\nQ4,1600\n", "QUARTE~1.CSV");
    w.addAttachment("notes.txt", "Figures are in thousands.\n");
    Part mail = message("Quarterly figures",
                        multipart("mixed", "----=_NextPart_000_0001",
                                  {textPart("Hello,\n\nHere are the quarterly figures.\n"), tnefPart(w.bytes())}),
                        "alice@example.com", "bob@example.org");
    std::ofstream out(argv[1], std::ios::binary);
    out << envelope("alice@example.com", {"bob@example.org"}) << render(mail);
    out.close();
    if (!out) {
        std::cerr << "cannot write " << argv[1] << "\n";
        return 1;
    }
    return 0;
}

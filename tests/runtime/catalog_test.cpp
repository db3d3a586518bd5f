// Catalogs: translations by message number from test-made catalog files, and refusal of every
// malformed file without reading past it.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/linux/catalog.h"
#include "platform/linux/debug_output.h"
#include "runtime/messages.h"
#include "runtime/report.h"
#include "tests/runtime/runtime_test_support.h"

namespace {

using qv::testing::Bytes;
using qv::testing::RuntimeTest;
using qv::testing::ScopedAssigns;
using qv::testing::ScopedEnv;
using qv::testing::ScratchDir;

void PutBE32(Bytes* out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out->push_back(static_cast<uint8_t>(v >> shift));
}

Bytes Chunk(const char* id, const Bytes& data) {
    Bytes out(id, id + 4);
    PutBE32(&out, static_cast<uint32_t>(data.size()));
    out.insert(out.end(), data.begin(), data.end());
    if (data.size() % 2 != 0) out.push_back(0);
    return out;
}

// Records {id, length, text with its NUL, padding to 4}.
Bytes Strings(const std::vector<std::pair<uint32_t, std::string>>& texts) {
    Bytes out;
    for (const auto& [id, text] : texts) {
        PutBE32(&out, id);
        PutBE32(&out, static_cast<uint32_t>(text.size() + 1));
        out.insert(out.end(), text.begin(), text.end());
        out.push_back(0);
        while (out.size() % 4 != 0) out.push_back(0);
    }
    return out;
}

Bytes Form(const std::vector<Bytes>& chunks) {
    Bytes body = {'C', 'T', 'L', 'G'};
    for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
    return Chunk("FORM", body);
}

Bytes Version(const char* text) {
    return Bytes(text, text + std::strlen(text) + 1);
}

struct CatalogDeleter {
    void operator()(qvCatalog* c) const { FreeCatalog(c); }
};
using CatalogPtr = std::unique_ptr<qvCatalog, CatalogDeleter>;

CatalogPtr Parse(const Bytes& bytes, uint32_t minVersion = 0) {
    return CatalogPtr(qv::ParseCatalog(bytes, minVersion));
}

const Bytes kGerman = Form({Chunk("FVER", Version("$VER: Quorvella.catalog 3.1 (1.1.2024)")),
                            Chunk("STRS", Strings({{95, "fertig"}, {108, "gescheitert"}}))});

TEST(Catalog, TranslatesByNumberAndKeepsDefaultsForTheRest) {
    CatalogPtr c = Parse(kGerman);
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(GetCatalogText(c.get(), 95, "done"), "fertig");
    EXPECT_STREQ(GetCatalogText(c.get(), 108, "failed"), "gescheitert");
    EXPECT_STREQ(GetCatalogText(c.get(), 195, "skipped"), "skipped");
    EXPECT_STREQ(GetCatalogText(nullptr, 95, "done"), "done");
}

TEST(Catalog, VersionsBelowTheMinimumAreRefused) {
    EXPECT_NE(Parse(kGerman, 0), nullptr);
    EXPECT_NE(Parse(kGerman, 3), nullptr);
    EXPECT_EQ(Parse(kGerman, 4), nullptr);
    Bytes unversioned = Form({Chunk("STRS", Strings({{95, "fertig"}}))});
    EXPECT_NE(Parse(unversioned, 0), nullptr);
    EXPECT_EQ(Parse(unversioned, 1), nullptr);
}

TEST(Catalog, OddChunksAndUnknownChunksAreSkipped) {
    Bytes c = Form({Chunk("LANG", Version("deutsch")),  // 8 bytes
                    Chunk("CSET", Bytes{1, 2, 3}),      // odd: one pad byte
                    Chunk("STRS", Strings({{7, "sieben"}}))});
    CatalogPtr catalog = Parse(c);
    ASSERT_NE(catalog, nullptr);
    EXPECT_STREQ(GetCatalogText(catalog.get(), 7, ""), "sieben");
}

TEST(Catalog, ATextWithoutItsNulIsTakenWhole) {
    Bytes strs;
    PutBE32(&strs, 5);
    PutBE32(&strs, 3);
    strs.insert(strs.end(), {'a', 'b', 'c', 0});
    CatalogPtr c = Parse(Form({Chunk("STRS", strs)}));
    ASSERT_NE(c, nullptr);
    EXPECT_STREQ(GetCatalogText(c.get(), 5, ""), "abc");
}

TEST(Catalog, MalformedFilesAreRefused) {
    Bytes longRecord;
    PutBE32(&longRecord, 95);
    PutBE32(&longRecord, 1000);  // beyond the chunk
    longRecord.insert(longRecord.end(), {'x', 0, 0, 0});
    Bytes shortHeader = {0, 0, 0, 95, 0, 0};  // a record header cut short
    Bytes overlongChunk = kGerman;
    overlongChunk[12 + 7] += 100;  // FVER claims more than the form holds
    Bytes notACatalog = kGerman;
    notACatalog[8] = 'X';
    const std::pair<const char*, Bytes> cases[] = {
        {"record beyond its chunk", Form({Chunk("STRS", longRecord)})},
        {"record header cut short", Form({Chunk("STRS", shortHeader)})},
        {"chunk beyond the form", overlongChunk},
        {"form type", notACatalog},
        {"empty", Bytes{}},
    };
    for (const auto& [what, bytes] : cases) EXPECT_EQ(Parse(bytes), nullptr) << what;
}

TEST(Catalog, EveryTruncationIsRefused) {
    for (size_t n = 0; n < kGerman.size(); ++n) {
        Bytes cut(kGerman.begin(), kGerman.begin() + static_cast<ptrdiff_t>(n));
        EXPECT_EQ(Parse(cut), nullptr) << n;
    }
}

class AppCatalog : public RuntimeTest {};

TEST_F(AppCatalog, FoundUnderLocaleForTheLanguage) {
    ScratchDir dir;
    dir.MakeDir("Catalogs");
    dir.MakeDir("Catalogs/deutsch");
    dir.MakeDir("Catalogs/deutsch/Quorvella");
    dir.Write("Catalogs/deutsch/Quorvella/Quorvella.catalog", kGerman);
    ScopedAssigns assigns("LOCALE:=" + dir.path());
    {
        ScopedEnv language("QV_LANGUAGE", std::nullopt);
        ScopedEnv all("LC_ALL", "C");
        ScopedEnv lang("LANG", "de_DE.UTF-8");
        EXPECT_EQ(OpenAppCatalog("Quorvella/Quorvella.catalog", 0), nullptr);
        ScopedEnv noAll("LC_ALL", "");
        ScopedEnv messages("LC_MESSAGES", std::nullopt);
        qvCatalog* fromLocale = OpenAppCatalog("Quorvella/Quorvella.catalog", 0);
        EXPECT_NE(fromLocale, nullptr) << "the locale's language under its catalog name";
        FreeCatalog(fromLocale);
    }
    ScopedEnv language("QV_LANGUAGE", "Deutsch");
    EXPECT_EQ(OpenAppCatalog("Quorvella/Missing.catalog", 0), nullptr);
    EXPECT_EQ(OpenAppCatalog("Quorvella/Quorvella.catalog", 9), nullptr);
    qv::Runtime().catalog = OpenAppCatalog("Quorvella/Quorvella.catalog", 0);
    ASSERT_NE(qv::Runtime().catalog, nullptr);
    EXPECT_STREQ(GetMessageText(qv::kMsgDone), "fertig");
    EXPECT_STREQ(GetMessageText(qv::kMsgSkipped), "skipped");
    qv::DebugCapture capture;
    PrintLoadingDone();
    EXPECT_EQ(capture.Text(), " fertig\n");
}

}  // namespace

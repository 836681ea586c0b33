#include <gtest/gtest.h>

#include "fakes/FakePlatform.h"
#include "text/Texts.h"
#include "util/Text.h"

using namespace brut;

namespace {

constexpr int32_t kEnglish = 1033;
constexpr int32_t kGerman = 1031;
constexpr int32_t kJapanese = 1041;

class TextsTest : public ::testing::Test {
protected:
    fake::FakePlatform platform;
};

}  // namespace

TEST_F(TextsTest, EntriesInEachLanguage) {
    struct Case { int32_t language; uint32_t id; const char16_t* want; };
    const Case cases[] = {
        {kEnglish, TXT_UP_TO_DATE, u"You already have the most recent version."},
        {kGerman, TXT_UP_TO_DATE, u"Es wird keine Aktualisierung benötigt, die aktuellste Version ist bereits installiert."},
        {kJapanese, TXT_UP_TO_DATE, u"現在お使いのバージョンは、最新です。"},
        {kEnglish, TXT_CLOSE, u"Close"},
        {kGerman, TXT_CLOSE, u"Schließen"},
        {kJapanese, TXT_CLOSE, u"閉じる"},
        {kEnglish, TXT_DONT_NOTIFY_AGAIN, u"Don\u2019t notify me about this update again."},
        {kJapanese, TXT_CANCEL_INSTALLATION_QUESTION, u"インストールをキャンセルしてもよろしいですか\uFF1F"},
        {kEnglish, TXT_UPGRADE_ALSO_AVAILABLE, u"There is also a product upgrade available.\nThis may be subject to a fee."},
        {kGerman, TXT_DOWNLOADING_FILE, u"Herunterladen der Datei \"%s\"..."},
        {kJapanese, TXT_UPGRADE_VERSION_FORMAT, u"%s - バージョン %d"},
        {kGerman, TXT_VERSION_LABEL, u"Version:"},
        {kEnglish, TXT_VERSION_LABEL, u"Version:"},
        {kGerman, TXT_UNKNOWN, u"Unbekannt"},
        {kJapanese, TXT_UPDATE_AVAILABLE,
         u"お使いの製品のアップデートが利用可能です。今すぐインストールしますか？ インストールする際はすべての他のソフトウェアを終了してください。"},
        // Neither the German nor the Japanese column has these two.
        {kJapanese, TXT_OS_NOT_SUPPORTED, u"This version of the product does not support your operating system."},
        {kJapanese, TXT_FURTHER_INFORMATION, u"You can get further information right here."},
        {kGerman, TXT_FURTHER_INFORMATION, u"Hier erhalten Sie weitere Informationen"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(GetLocalizedText(c.language, c.id), c.want) << "language " << c.language << " id " << c.id;
}

TEST_F(TextsTest, LanguageRule) {
    struct Case { int32_t language; uint32_t defaultLcid; UiLanguage want; };
    const Case cases[] = {
        {1031, 1041, UiLanguage::German},
        {1041, 1031, UiLanguage::Japanese},
        {1033, 1031, UiLanguage::English},
        {2055, 1031, UiLanguage::English},  // German (Switzerland)
        {3079, 1031, UiLanguage::English},  // German (Austria)
        {-1031, 1031, UiLanguage::English},
        {0, 1031, UiLanguage::German},
        {0, 1041, UiLanguage::Japanese},
        {0, 3079, UiLanguage::English},
        {0, 0, UiLanguage::English},
    };
    for (const auto& c : cases) {
        platform.system.defaultLcid = c.defaultLcid;
        EXPECT_EQ(SelectUiLanguage(c.language), c.want) << c.language << " on " << c.defaultLcid;
    }
}

TEST_F(TextsTest, LanguageZeroAsksTheSystemOnEveryLookup) {
    platform.system.defaultLcid = 1031;
    EXPECT_EQ(GetLocalizedText(0, TXT_NOT_NOW), u"Jetzt nicht");
    platform.system.defaultLcid = 3079;
    EXPECT_EQ(GetLocalizedText(0, TXT_NOT_NOW), u"Not now");
    platform.system.defaultLcid = 1041;
    EXPECT_EQ(GetLocalizedText(0, TXT_NOT_NOW), u"後で");
}

TEST_F(TextsTest, IdsPastTheTableAreEmpty) {
    for (int32_t language : {kEnglish, kGerman, kJapanese, 0}) {
        EXPECT_TRUE(GetLocalizedText(language, 64).empty());
        EXPECT_TRUE(GetLocalizedText(language, 0xFFFFFFFFu).empty());
        EXPECT_FALSE(GetLocalizedText(language, 63).empty());
    }
}

TEST_F(TextsTest, WhiteSpaceIsPartOfTheText) {
    EXPECT_EQ(GetLocalizedText(kEnglish, TXT_DELETING_CACHE), u"Deleting\tcache directory...");
    EXPECT_EQ(GetLocalizedText(kGerman, TXT_DELETING_CACHE), u"Lösche temporäres Verzeichnis...");
    EXPECT_EQ(GetLocalizedText(kEnglish, TXT_CONNECTING), u"Connecting to server... ");
    EXPECT_EQ(GetLocalizedText(kGerman, TXT_CONNECTING), u"Verbinde mit dem Server... ");
    EXPECT_EQ(GetLocalizedText(kJapanese, TXT_CONNECTING), u"サーバーに接続しています... ");
    EXPECT_EQ(GetLocalizedText(kEnglish, TXT_REMIND_LATER), u"Remind me again later ");
    EXPECT_EQ(GetLocalizedText(kGerman, TXT_REMIND_LATER), u"Später erneut erinnern");

    // Nothing else starts or ends with white space, and every entry has a text.
    for (int32_t language : {kEnglish, kGerman, kJapanese}) {
        for (uint32_t id = 0; id < TEXT_COUNT; ++id) {
            const std::u16string& t = GetLocalizedText(language, id);
            ASSERT_FALSE(t.empty()) << language << " " << id;
            EXPECT_FALSE(IsBlank(t.front())) << language << " " << id;
            const bool trailingBlankExpected =
                id == TXT_CONNECTING || (id == TXT_REMIND_LATER && language == kEnglish);
            EXPECT_EQ(IsBlank(t.back()), trailingBlankExpected) << language << " " << id;
        }
    }
}

TEST_F(TextsTest, EntriesSharedBetweenLanguages) {
    const uint32_t sameEverywhere[] = {TXT_OK, TXT_PROGRESS_FORMAT, TXT_PROFESSIONAL, TXT_WORKSTATION, TXT_SERVER,
                                       TXT_TECH, TXT_ADMIN, TXT_EDITION, TXT_MEDIA, TXT_EXPRESS};
    for (uint32_t id : sameEverywhere) {
        EXPECT_EQ(GetLocalizedText(kGerman, id), GetLocalizedText(kEnglish, id)) << id;
        EXPECT_EQ(GetLocalizedText(kJapanese, id), GetLocalizedText(kEnglish, id)) << id;
    }
    for (int32_t language : {kEnglish, kGerman, kJapanese})
        EXPECT_EQ(GetLocalizedText(language, TXT_PRODUCT_NAME), GetLocalizedText(language, TXT_PRODUCT_NAME_IN_TEXTS));
    EXPECT_EQ(GetLocalizedText(kGerman, TXT_PRODUCT_NAME_IN_TEXTS), u"Brindle Uptide");
    EXPECT_EQ(GetLocalizedText(kJapanese, TXT_PRODUCT_NAME_IN_TEXTS), u"自動更新プログラム");
    EXPECT_NE(GetLocalizedText(kGerman, TXT_OS_NOT_SUPPORTED), GetLocalizedText(kEnglish, TXT_OS_NOT_SUPPORTED));
}

TEST_F(TextsTest, ReplaceProductName) {
    struct Case { int32_t language; uint32_t id; const char16_t* caption; const char16_t* want; };
    const Case cases[] = {
        {kEnglish, TXT_END_QUESTION, u"Photo Studio", u"Do you really want to end Photo Studio?"},
        {kGerman, TXT_OTHER_INSTANCE_RUNNING, u"Photo Studio", u"Es läuft bereits eine Instance des Photo Studio."},
        {kJapanese, TXT_END_OTHER_SESSION, u"写真",
         u"別の写真が実行されています。自動的に実行中の写真を終了しますか？"},
        // A caption that contains the name itself is replaced once, not again.
        {kEnglish, TXT_PRODUCT_NAME_IN_TEXTS, u"Brindle Uptide Pro", u"Brindle Uptide Pro"},
        // The English name is not the Japanese one: a Japanese text keeps it.
        {kJapanese, TXT_UPDATING_SELF, u"X", u"アップデート中 \"Brindle Uptide\"..."},
        {kEnglish, TXT_CONTACT_SUPPORT, u"",
         u"Brindle Uptide has encountered an error. Please contact the support."},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReplaceProductName(c.language, GetLocalizedText(c.language, c.id), c.caption), c.want)
            << c.language << " " << c.id;

    platform.system.defaultLcid = 1041;
    EXPECT_EQ(ReplaceProductName(0, u"自動更新プログラムの終了", u"Y"), u"Yの終了");
}

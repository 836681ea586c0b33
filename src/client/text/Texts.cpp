#include "text/Texts.h"

#include <array>

#include "util/Text.h"
#include "platform/Platform.h"

namespace brut {

namespace {

constexpr int32_t kLcidGerman = 1031;
constexpr int32_t kLcidJapanese = 1041;

struct TextRow {
    const char16_t* english;
    const char16_t* german;
    const char16_t* japanese;
};

// Trailing blanks (14, 55) and the tab in 15 are deliberate: callers show
// and store these texts exactly.
constexpr TextRow kTexts[TEXT_COUNT] = {
    /*  0 TXT_UPDATE_AVAILABLE */
    {u"A more up-to-date program version is available. Would you like to install it now?\nPlease close all programs before starting the installation!",
     u"Eine aktuellere Programmversion ist verfügbar. Möchten Sie diese jetzt installieren?\nBitte schließen Sie alle Programme vor dem Ausführen der Installation!",
     u"お使いの製品のアップデートが利用可能です。今すぐインストールしますか？ インストールする際はすべての他のソフトウェアを終了してください。"},
    /*  1 TXT_UP_TO_DATE */
    {u"You already have the most recent version.",
     u"Es wird keine Aktualisierung benötigt, die aktuellste Version ist bereits installiert.",
     u"現在お使いのバージョンは、最新です。"},
    /*  2 TXT_INSTALLATION_NOT_AVAILABLE */
    {u"The installation is currently not availible.",
     u"Die Installation steht zur Zeit leider nicht zur verfügung.",
     u"インストールは現在利用できません。"},
    /*  3 TXT_CACHE_DELETE_FAILED */
    {u"Failed to delete cache directory!",
     u"Das temporäre Verzeichnis konnte nicht gelöscht werden!",
     u"一時フォルダーの削除に失敗しました。"},
    /*  4 TXT_OK */
    {u"OK",
     u"OK",
     u"OK"},
    /*  5 TXT_INSTALL */
    {u"Install",
     u"Installieren",
     u"インストール"},
    /*  6 TXT_NOT_NOW */
    {u"Not now",
     u"Jetzt nicht",
     u"後で"},
    /*  7 TXT_DONT_NOTIFY_AGAIN */
    {u"Don’t notify me about this update again.",
     u"Diese Aktualisierung nicht mehr anzeigen.",
     u"アップデートについて再度通知しない"},
    /*  8 TXT_UPDATE_IN_PROGRESS */
    {u"Update in progress...",
     u"Führe Aktualisierung durch...",
     u"アップデート中..."},
    /*  9 TXT_PREPARE_INSTALLATION */
    {u"Prepare installation...",
     u"Bereite Installation vor...",
     u"インストールの準備中..."},
    /* 10 TXT_UPDATE_INSTALLED */
    {u"Update installed successfully!",
     u"Die Aktualisierung war erfolgreich!",
     u"正常にアップデートされました。"},
    /* 11 TXT_PROGRAM_INSTALLED */
    {u"Program installed successfully!",
     u"Die Installation war erfolgreich!",
     u"プログラムが正常にインストールされました。"},
    /* 12 TXT_UPDATE_FAILED */
    {u"Update has failed to complete!",
     u"Die Aktualisierung ist fehlgeschlagen!",
     u"アップデートが完了しませんでした。"},
    /* 13 TXT_INSTALLATION_FAILED */
    {u"Program installation has failed!",
     u"Die Installation ist fehlgeschlagen!",
     u"プログラムのインストールに失敗しました。"},
    /* 14 TXT_CONNECTING */
    {u"Connecting to server... ",
     u"Verbinde mit dem Server... ",
     u"サーバーに接続しています... "},
    /* 15 TXT_DELETING_CACHE */
    {u"Deleting\tcache directory...",
     u"Lösche temporäres Verzeichnis...",
     u"一時フォルダを削除しています..."},
    /* 16 TXT_DOWNLOADING_FILE */
    {u"Downloading file \"%s\"...",
     u"Herunterladen der Datei \"%s\"...",
     u"ファイル \"%s\" をダウンロードしています..."},
    /* 17 TXT_DOWNLOAD_SUCCEEDED */
    {u"Downloading file \"%s\" succeeded",
     u"Datei \"%s\" wurde erfolgreich heruntergeladen",
     u"ファイル \"%s\" のダウンロードに成功しました。"},
    /* 18 TXT_DOWNLOAD_FAILED */
    {u"Downloading \"%s\" has failed!",
     u"Datei \"%s\" konnte nicht erfolgreich heruntergeladen werde!",
     u"\"%s\" のダウンロードに失敗しました"},
    /* 19 TXT_STARTING_INSTALLATION */
    {u"Starting installation...",
     u"Starte Installation...",
     u"インストールの開始しています..."},
    /* 20 TXT_COPYING_FILES */
    {u"Copying new files...",
     u"Kopiere neue Dateien...",
     u"新規ファイルをコピーしています..."},
    /* 21 TXT_UPDATING_SELF */
    {u"Updating \"Brindle Uptide\"...",
     u"Aktualisiere \"Brindle Uptide\"...",
     u"アップデート中 \"Brindle Uptide\"..."},
    /* 22 TXT_PROGRESS_FORMAT */
    {u"%s / %s",
     u"%s / %s",
     u"%s / %s"},
    /* 23 TXT_PRODUCT_LABEL */
    {u"Product:",
     u"Produkt:",
     u"製品名:"},
    /* 24 TXT_YOUR_VERSION_LABEL */
    {u"Your version:",
     u"Ihre Version:",
     u"お使いのバージョン:"},
    /* 25 TXT_AVAILABLE_VERSION_LABEL */
    {u"Available version:",
     u"Verfügbare Version:",
     u"利用可能なバージョン:"},
    /* 26 TXT_END_TITLE */
    {u"End Brindle Uptide",
     u"Brindle Uptide beenden",
     u"自動更新の終了"},
    /* 27 TXT_END_QUESTION */
    {u"Do you really want to end Brindle Uptide?",
     u"Wollen Sie Brindle Uptide wirklich beenden?",
     u"自動更新プログラムを終了してもよろしいですか？"},
    /* 28 TXT_CANCEL_INSTALLATION_TITLE */
    {u"cancel installation",
     u"Installation abbrechen",
     u"インストールをキャンセル"},
    /* 29 TXT_CANCEL_INSTALLATION_QUESTION */
    {u"Are you sure you want to cancel the installation?",
     u"Sind Sie sicher, dass Sie die Installation abbrechen wollen?",
     u"インストールをキャンセルしてもよろしいですか？"},
    /* 30 TXT_SERVER_MAINTENANCE */
    {u"Server is temporarily unavailable during maintenance.",
     u"Server aufgrund von Wartungsarbeiten zeitweise nicht verfügbar.",
     u"サーバーはメンテナンス中により一時的に利用できません。"},
    /* 31 TXT_CANNOT_CONNECT */
    {u"Cannot connect to server!",
     u"Konnte keine Verbindung zum Server aufbauen!",
     u"サーバーに接続できませんでした。"},
    /* 32 TXT_ABORT */
    {u"Abort",
     u"Abbrechen",
     u"中止"},
    /* 33 TXT_VERSION_LABEL */
    {u"Version:",
     u"Version:",
     u"バージョン:"},
    /* 34 TXT_CLOSE */
    {u"Close",
     u"Schließen",
     u"閉じる"},
    /* 35 TXT_PROFESSIONAL */
    {u"Professional",
     u"Professional",
     u"Professional"},
    /* 36 TXT_WORKSTATION */
    {u"Workstation",
     u"Workstation",
     u"Workstation"},
    /* 37 TXT_SERVER */
    {u"Server",
     u"Server",
     u"Server"},
    /* 38 TXT_TECH */
    {u"Tech",
     u"Tech",
     u"Tech"},
    /* 39 TXT_ADMIN */
    {u"Admin",
     u"Admin",
     u"Admin"},
    /* 40 TXT_EDITION */
    {u"Edition",
     u"Edition",
     u"Edition"},
    /* 41 TXT_MEDIA */
    {u"Media",
     u"Media",
     u"Media"},
    /* 42 TXT_EXPRESS */
    {u"Express",
     u"Express",
     u"Express"},
    /* 43 TXT_SHOW_CHANGES */
    {u"Show changes in the new version",
     u"Änderungen in der neuen Version anzeigen",
     u"新しいバージョンでの変更"},
    /* 44 TXT_IMPORTANT_HINT */
    {u"Important hint:",
     u"Wichtiger Hinweis:",
     u"重要なヒント:"},
    /* 45 TXT_UPGRADE_ALSO_AVAILABLE */
    {u"There is also a product upgrade available.\nThis may be subject to a fee.",
     u"Es ist außerdem ein Produktupgrade verfügbar.\nDieses kann für Sie kostenpflichtig sein.",
     u"製品のアップグレードも利用可能です。\nこれは、有料となる可能性があります。"},
    /* 46 TXT_MORE_UPGRADE_INFO */
    {u"More information about the upgrade",
     u"Mehr Informationen zum Upgrade anzeigen",
     u"アップグレードの詳細について"},
    /* 47 TXT_PREPARE_UPDATE_CHECK */
    {u"Prepare update check ...",
     u"Bereite Updatecheck vor ...",
     u"アップデート確認の準備 ..."},
    /* 48 TXT_CONTACT_SUPPORT */
    {u"Brindle Uptide has encountered an error. Please contact the support.",
     u"Brindle Uptide hat einen Fehler festgestellt, bitte kontaktieren Sie unseren Kundenservice.",
     u"自動更新プログラムにエラーが発生しました。サポートまでお問い合わせください。"},
    /* 49 TXT_USE_64BIT */
    {u"Please use the 64 bit application.",
     u"Bitte benutzen Sie die 64 Bit Version.",
     u"64ビット版を使用してください。"},
    /* 50 TXT_PRODUCT_NAME */
    {u"Brindle Uptide",
     u"Brindle Uptide",
     u"自動更新プログラム"},
    /* 51 TXT_END_OTHER_SESSION */
    {u"Another Brindle Uptide session is active. Do you want to end this active session automatically?",
     u"Es läuft bereits eine Instance des Brindle Uptide. Soll diese geschlossen werden?",
     u"別の自動更新プログラムが実行されています。自動的に実行中の自動更新プログラムを終了しますか？"},
    /* 52 TXT_OTHER_INSTANCE_RUNNING */
    {u"An other instance of the Brindle Uptide is still running.",
     u"Es läuft bereits eine Instance des Brindle Uptide.",
     u"別の自動更新プログラムが実行中です。"},
    /* 53 TXT_CONNECTION_FAILED */
    {u"Connection to server failed. Please check your internet connection.",
     u"Es konnte keine Verbindung zum Server aufgebaut werden. Bitte überprüfen Sie ihre Internetverbindung.",
     u"サーバーへの接続に失敗しました。インターネット接続を確認してください。"},
    /* 54 TXT_CONTINUE */
    {u"Continue",
     u"Weiter",
     u"続行"},
    /* 55 TXT_REMIND_LATER */
    {u"Remind me again later ",
     u"Später erneut erinnern",
     u"後で表示する"},
    /* 56 TXT_UPGRADE_OFFER */
    {u"An upgrade for your product is available which may attract a fee. Would you like to install now?",
     u"Es ist ein möglicherweise kostenpflichtiges Upgrade für Ihr Produkt verfügbar.\nMöchten Sie es jetzt installieren?",
     u"ご使用の製品をアップグレードすると、料金が発生する可能性があります。今すぐアップグレードしますか？"},
    /* 57 TXT_DONT_SHOW_NOTICE */
    {u"Do not show this notice again",
     u"Diesen Hinweis nicht mehr anzeigen",
     u"この通知を表示しない"},
    /* 58 TXT_UPGRADE_VERSION_FORMAT */
    {u"%s - version %d",
     u"%s - Version %d",
     u"%s - バージョン %d"},
    /* 59 TXT_INSTALL_AND_REPLACE */
    {u"Install and replace the current version",
     u"Installieren und aktuelle Version ersetzen",
     u"インストールして現在のバージョンを置き換える"},
    /* 60 TXT_PRODUCT_NAME_IN_TEXTS */
    {u"Brindle Uptide",
     u"Brindle Uptide",
     u"自動更新プログラム"},
    /* 61 TXT_OS_NOT_SUPPORTED */
    {u"This version of the product does not support your operating system.",
     u"Ihr Betriebssystem wird von dieser Produktversion nicht unterstützt!",
     u"This version of the product does not support your operating system."},
    /* 62 TXT_FURTHER_INFORMATION */
    {u"You can get further information right here.",
     u"Hier erhalten Sie weitere Informationen",
     u"You can get further information right here."},
    /* 63 TXT_UNKNOWN */
    {u"Unknown",
     u"Unbekannt",
     u"不明"},
};

using LanguageTable = std::array<std::u16string, TEXT_COUNT>;

struct Table {
    LanguageTable english, german, japanese;
};

// Built on first use so that lookups from other static initialisers are safe, and
// never destroyed: check, banner and report threads may read it while the process ends.
const Table& Texts() {
    static const Table& table = *[] {
        auto* t = new Table;
        for (uint32_t i = 0; i < TEXT_COUNT; ++i) {
            t->english[i] = kTexts[i].english;
            t->german[i] = kTexts[i].german;
            t->japanese[i] = kTexts[i].japanese;
        }
        return t;
    }();
    return table;
}

}  // namespace

UiLanguage SelectUiLanguage(int32_t language) {
    if (language == 0) language = static_cast<int32_t>(plat::Sys().DefaultLcid());
    if (language == kLcidGerman) return UiLanguage::German;
    if (language == kLcidJapanese) return UiLanguage::Japanese;
    return UiLanguage::English;
}

const std::u16string& GetLocalizedText(int32_t language, uint32_t textId) {
    static const std::u16string& kEmpty = *new std::u16string;
    if (textId >= TEXT_COUNT) return kEmpty;
    const Table& t = Texts();
    switch (SelectUiLanguage(language)) {
    case UiLanguage::German: return t.german[textId];
    case UiLanguage::Japanese: return t.japanese[textId];
    case UiLanguage::English: break;
    }
    return t.english[textId];
}

std::u16string ReplaceProductName(int32_t language, std::u16string text, const std::u16string& caption) {
    if (caption.empty()) return text;
    return ReplaceAll(std::move(text), GetLocalizedText(language, TXT_PRODUCT_NAME_IN_TEXTS), caption);
}

}  // namespace brut

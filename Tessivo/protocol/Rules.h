#pragma once

#include "store/RecordIds.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringView>

#include <optional>

// The rules the app and the service both apply, each stated once.
namespace protocol {

// --- Published slugs ---------------------------------------------------------

namespace slugs {
inline constexpr qsizetype minLength = 2;
inline constexpr qsizetype maxLength = 60;

// 2 to 60 user-perceived characters, no "--", and the whole slug is
// lower-case ASCII letters, digits and hyphens, neither first nor last a
// hyphen. A trailing line break is a character like any other.
bool isValid(QStringView slug);
// The rule in words, for the publish sheet and the service's refusal.
QString ruleText();
} // namespace slugs

// --- Synced records ----------------------------------------------------------

// The app's own record rules, as the service applies them to the JSON it
// stores (the push checks are SyncPushRequest's).
namespace records {
// The "updatedAt" of a record: nothing unless it is an exact integer, as in
// every record that passed the push checks.
std::optional<qint64> updatedAt(const QJsonObject &record);
// The id of the conflicted copy that keeps the losing version of document
// `documentId` last changed at `loserUpdatedAt`: the app and the service
// give one loser the same id, so that a copy is made once.
QString conflictedCopyId(const QString &documentId, qint64 loserUpdatedAt);
// Where that loser's copy goes when its first id may hold another text:
// both sides walk its ids alike (see RecordIds::conflictedCopyPlace).
using RecordIds::CopyPlace;
using RecordIds::CopySlot;
std::optional<CopyPlace> conflictedCopyPlace(const QString &documentId, qint64 loserUpdatedAt,
                                             qsizetype tries,
                                             const std::function<CopySlot(const QString &id)> &slot);
// The title the app gives a copy ends with this.
QString conflictedCopySuffix();
// The conflicted copy of the stored document `loser` as the app makes it,
// under `id` in `collectionId`, changed at `now`. A record the app could
// not read is copied all the same, so that its text is kept.
QJsonObject conflictedCopy(const QJsonObject &loser, const QString &id,
                           const std::optional<QString> &collectionId, qint64 now);
// A pull answers in pieces of about this many bytes of records (a single
// record may be larger), with "more" set while records remain, so that
// neither side ever holds an account's records whole.
inline constexpr qint64 pullPieceBytes = qint64(32) << 20;
} // namespace records

// --- Site handles ------------------------------------------------------------

namespace siteHandles {
// A handle is the first label of its site's host name: 1 to 63 letters,
// digits and hyphens, neither first nor last a hyphen. Host names ignore
// letter case, so either case is a handle.
bool isHostLabel(QStringView handle);
// The same rule as an HTML "pattern" attribute, for the sign-up form.
QString inputPattern();
// Names the service keeps for itself; compared without regard to case.
bool isReserved(QStringView handle);
// What the service stores for a handle typed at sign-up.
QString normalized(const QString &typed);
// Whether a (normalized) handle may be chosen at sign-up.
bool canChoose(QStringView handle);
} // namespace siteHandles

// --- Images ------------------------------------------------------------------

namespace images {
// 10 MB; exactly this many bytes are accepted.
inline constexpr qint64 maxBytes = 10 * 1024 * 1024;
inline constexpr int tooLargeStatus = 413;
QString tooLargeCode();
QString tooLargeMessage();
} // namespace images

// --- The writing assistant ---------------------------------------------------

namespace ai {
// Lengths in UTF-16 code units.
inline constexpr qsizetype maxTextLength = 20000;
inline constexpr qsizetype maxPromptLength = 1000;
// How much of the text around the selection or caret the model is shown.
inline constexpr qsizetype contextBefore = 6000;
inline constexpr qsizetype contextAfter = 2000;

// The ready-made rewrites, in the menu's order.
enum class Preset {
    fixGrammar,
    improve,
    punchier,
    condense,
    rephrase,
    expand,
    structure,
    positive,
    thread,
    emoji,
    announcement,
};
const QList<Preset> &presets();
// The id a refine request carries for the preset.
QString presetId(Preset preset);
std::optional<Preset> presetFromId(QStringView id);
// The refine action of a typed instruction.
QString customAction();
// The most reply text, in UTF-8 bytes, the service passes on and the app
// reads; the rest of a longer reply is dropped.
inline constexpr qsizetype maxReplyBytes = 4 * 1024 * 1024;
// The most of the UTF-8 `bytes` that fits in `room` bytes without splitting
// a character: what either side keeps of the reply that reaches the cap.
QByteArray cutToFit(const QByteArray &bytes, qsizetype room);
} // namespace ai

// --- Sessions ----------------------------------------------------------------

// Where the service's sign-in page sends the browser when it is done: the
// app's link, carrying either the one-time token or an error code.
namespace signInCallback {
inline constexpr QLatin1StringView tokenItem{"ott"};
inline constexpr QLatin1StringView errorItem{"error"};
// The error codes the service sends.
inline constexpr QLatin1StringView accessDenied{"access_denied"};
inline constexpr QLatin1StringView sessionMissing{"session_missing"};
inline constexpr QLatin1StringView internalError{"internal_error"};
inline constexpr QLatin1StringView invalidProvider{"invalid_provider"};
// The link with one item, `value` percent-encoded.
QByteArray link(QLatin1StringView item, const QString &value);
} // namespace signInCallback

// The longest session token the app takes from the service.
inline constexpr qsizetype maxSessionTokenLength = 4096;
// A value that can be a session token: 1 to maxSessionTokenLength visible
// ASCII characters (no space, no control character), so it goes into a
// header exactly as it came.
bool isSessionToken(QByteArrayView value);
// The "authorization" value that carries a session token.
QByteArray bearerHeader(const QString &token);
// The token of an "authorization" value, or empty when it carries none.
QByteArray bearerToken(QByteArrayView authorization);

} // namespace protocol

// Record decoders: any JSON object either fails to decode or decodes to a
// record that survives its own encoding unchanged.
#include "FuzzInput.h"
#include "store/Collection.h"
#include "store/Document.h"
#include "store/Persistence.h"

#include <QJsonArray>
#include <QJsonDocument>

namespace {

template <typename Record>
void roundTrip(const QJsonObject &object)
{
    if (const std::optional<Record> record = Record::fromJson(object)) {
        const std::optional<Record> again = Record::fromJson(record->toJson());
        FuzzInput::require(again && *again == *record, "a decoded record survives its encoding");
    }
}

void decode(const QJsonValue &value)
{
    if (!value.isObject()) {
        return;
    }
    const QJsonObject object = value.toObject();
    roundTrip<Document>(object);
    roundTrip<Collection>(object);
    roundTrip<Persistence::State>(object);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    FuzzInput::silenceQtMessages();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument json = QJsonDocument::fromJson(
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size)));
    if (json.isObject()) {
        decode(json.object());
    }
    for (const QJsonValue &item : json.array()) {
        decode(item);
    }
    return 0;
}

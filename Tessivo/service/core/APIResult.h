#pragma once

#include "service/core/APIError.h"

#include <QString>

#include <optional>

#include <utility>
#include <variant>

// Why a request to the web service failed.
//  - `api`: an APIError, made by the client (the service could not be
//    reached, "network") or mapped from an error reply (APIError::from).
//  - `decoding`: a 2xx reply whose body breaks the record's rules; nothing of
//    it was used. `description()` says what was wrong.
//  - `cancelled`: the caller aborted the request or stream.
class APIFailure
{
public:
    enum class Kind { api, decoding, cancelled };

    APIFailure(const APIError &error) : m_kind(Kind::api), m_error(error) {}
    static APIFailure decoding(const QString &description)
    {
        APIFailure failure(Kind::decoding);
        failure.m_description = description;
        return failure;
    }
    static APIFailure cancelled() { return APIFailure(Kind::cancelled); }

    Kind kind() const { return m_kind; }
    bool isAPIError() const { return m_kind == Kind::api; }
    bool isCancelled() const { return m_kind == Kind::cancelled; }
    // Only meaningful for Kind::api.
    const APIError &apiError() const { return m_error; }
    // The text for the user, the one mapping every view uses: an APIError's
    // message as the service or the client wrote it; for any other failure
    // `otherwise` when the caller has words of its own for it (e.g.
    // "Image upload failed."), else description().
    QString userText(const std::optional<QString> &otherwise = std::nullopt) const
    {
        if (m_kind == Kind::api || !otherwise)
            return description();
        return *otherwise;
    }
    // The APIError's message, the decoding fault, or "Cancelled.".
    QString description() const
    {
        switch (m_kind) {
        case Kind::api:
            return m_error.message;
        case Kind::decoding:
            return m_description;
        case Kind::cancelled:
            break;
        }
        return QStringLiteral("Cancelled.");
    }

private:
    explicit APIFailure(Kind kind) : m_kind(kind) {}

    Kind m_kind;
    APIError m_error;
    QString m_description;
};

// A decoded reply or the reason there is none.
template <typename T>
class APIResult
{
public:
    // Default-constructed results exist only as QFuture storage.
    APIResult() : m_value(APIFailure::cancelled()) {}
    APIResult(T value) : m_value(std::in_place_index<0>, std::move(value)) {}
    APIResult(APIFailure failure) : m_value(std::in_place_index<1>, std::move(failure)) {}
    APIResult(const APIError &error) : m_value(std::in_place_index<1>, APIFailure(error)) {}

    bool ok() const { return m_value.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    const T &value() const & { return std::get<0>(m_value); }
    T &value() & { return std::get<0>(m_value); }
    T &&value() && { return std::get<0>(std::move(m_value)); }
    const T *operator->() const { return &value(); }
    // Only when !ok().
    const APIFailure &failure() const { return std::get<1>(m_value); }

private:
    std::variant<T, APIFailure> m_value;
};

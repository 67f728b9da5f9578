#pragma once

#include <QCoreApplication>
#include <QFuture>
#include <QObject>
#include <QPointer>
#include <QPromise>
#include <QThread>

#include <type_traits>
#include <utility>

// QFuture::then(context, f) of Qt 6.4 requires `context` to outlive the
// future: it asserts so, and a build without assertions drops the
// continuation. A request outlives whoever waits for it whenever that goes
// first (a sheet closed, a pass ended, a sign-in replaced), so such a
// continuation is attached here instead: `f` runs on `context`'s thread once
// `future` has finished, as with Qt's, but only while `context` lives; the
// future returned is cancelled when it has gone. The continuation's own
// context is the application, which outlives every future.
template <typename T, typename F>
auto thenWhileAlive(const QFuture<T> &future, QObject *context, F &&f)
{
    QFuture<T> parent = future;
    QObject *anchor = QCoreApplication::instance();
    if (!anchor || context->thread() != anchor->thread())
        return parent.then(context, std::forward<F>(f));
    const QPointer<QObject> alive(context);
    if constexpr (std::is_void_v<T> || !std::is_invocable_v<std::decay_t<F> &, T>) {
        using R = std::invoke_result_t<std::decay_t<F> &>;
        return parent
            .then(anchor,
                  [alive, f = std::decay_t<F>(std::forward<F>(f))]() mutable -> QFuture<R> {
                      if (!alive)
                          return QPromise<R>().future();
                      if constexpr (std::is_void_v<R>) {
                          f();
                          return QtFuture::makeReadyFuture();
                      } else {
                          return QtFuture::makeReadyFuture(f());
                      }
                  })
            .unwrap();
    } else {
        using R = std::invoke_result_t<std::decay_t<F> &, T>;
        return parent
            .then(anchor,
                  [alive, f = std::decay_t<F>(std::forward<F>(f))](T value) mutable -> QFuture<R> {
                      if (!alive)
                          return QPromise<R>().future();
                      if constexpr (std::is_void_v<R>) {
                          f(std::move(value));
                          return QtFuture::makeReadyFuture();
                      } else {
                          return QtFuture::makeReadyFuture(f(std::move(value)));
                      }
                  })
            .unwrap();
    }
}

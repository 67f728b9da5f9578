#pragma once

#include <QWidget>

// The overlay that shows the publish toast when "zv.publishToast" is posted.
// Nothing publishes in this build yet, so it stays hidden and never takes
// clicks.
class PublishToastHost final : public QWidget
{
    Q_OBJECT

public:
    explicit PublishToastHost(QWidget *parent = nullptr);
};

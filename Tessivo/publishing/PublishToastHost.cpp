#include "publishing/PublishToastHost.h"

PublishToastHost::PublishToastHost(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    hide();
}

#include <QWidget>
#include <QtWidgets/QLabel>
#include "comments/file_comments.h"

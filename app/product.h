#pragma once

#include <QString>
#include <QUrl>

// The product's name and website, from the build (CMake project values).
inline QString productName() {
    return QStringLiteral(TAVO_PRODUCT_NAME);
}
inline QUrl productWebsite() {
    return QUrl(QStringLiteral(TAVO_HOMEPAGE_URL "/"));
}
inline QString productWebsiteHost() {
    return productWebsite().host();
}

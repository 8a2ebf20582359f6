#include "testsite/site_markup.h"

namespace {

QString U(const char* text) {
    return QString::fromUtf8(text);
}

QString SpecRow(const char* label, const QString& value) {
    return U("<div class=\"spec__row\"><span class=\"spec__label\">") + U(label) +
           U("</span><span class=\"spec__value\">") + value + U("</span></div>\n");
}

} // namespace

QString PageHead(const QString& title, const QString& extraHead) {
    return U("<!DOCTYPE html>\n<html lang=\"ru\">\n<head><meta charset=\"utf-8\"><title>") + title +
           U(" — Тестоград</title>") + extraHead +
           U("</head>\n<body>\n<header class=\"site-header\"><a "
             "href=\"/\">Тестоград</a></header>\n");
}

QString PageTail(const QString& extraBody) {
    return U("<footer class=\"site-footer\">© Тестоград, справочник организаций</footer>\n") +
           extraBody + U("</body>\n</html>\n");
}

QString Breadcrumbs(const QString& currentHtml) {
    return U("<nav class=\"breadcrumbs\"><ul class=\"breadcrumbs-list\">\n"
             "<li><a class=\"breadcrumbs-list__link\" href=\"/\">Тестоград</a></li>\n"
             "<li><span class=\"breadcrumbs-list__link is-current\">") +
           currentHtml + U("</span></li>\n</ul></nav>\n");
}

QString RubricHeading(const QString& path, const QString& nameHtml) {
    return U("<div class=\"category-widget\"><h3 class=\"category-widget__title\"><a href=\"") +
           path + U("\">") + nameHtml + U("</a></h3></div>\n");
}

QString SubrubricBlock(const QStringList& paths) {
    QString html = U("<div class=\"organizations-all__list\"><ul>\n");
    for (const QString& path : paths)
        html += U("<li><a href=\"") + path + U("\">") + path + U("</a></li>\n");
    return html + U("</ul></div>\n");
}

QString CardWidgets(const QList<TCardLink>& cards, const QStringList& pagination) {
    QString html = U("<div class=\"organization-category__widgets\">\n");
    for (const TCardLink& card : cards) {
        html += U("<div class=\"org-widget\"><div class=\"org-widget-header__title\">");
        if (card.Path.isEmpty())
            html += U("Реклама</div></div>\n");
        else
            html += U("<a href=\"") + card.Path + U("\">") + card.NameHtml +
                    U("</a></div><div class=\"org-widget__info\">Подробнее</div></div>\n");
    }
    if (!pagination.isEmpty()) {
        html += U("<ul class=\"pagination-list\">");
        for (const QString& link : pagination)
            html += U("<li><a href=\"") + link + U("\">стр.</a></li>");
        html += U("</ul>\n");
    }
    return html + U("</div>\n");
}

QString CardContent(const TCardMarkup& card) {
    QString html;
    if (!card.NameHtml.isEmpty())
        html += U("<h1 class=\"org-title\">") + card.NameHtml + U("</h1>\n");
    const bool spec = !card.NameHtml.isEmpty() || !card.DescriptionHtml.isEmpty();
    if (spec)
        html += U("<dl class=\"spec\">\n");
    if (!card.AddressHtml.isEmpty())
        html += SpecRow("Адрес", card.AddressHtml);
    if (!card.PhonesHtml.isEmpty())
        html += SpecRow("Телефон", card.PhonesHtml);
    if (!card.HoursHtml.isEmpty())
        html += SpecRow("Режим работы", card.HoursHtml);
    if (!card.Site.isEmpty())
        html += SpecRow("Сайт", U("<a class=\"org-site\" rel=\"nofollow\" data-url=\"") +
                                    QString::fromLatin1(card.Site.toUtf8().toBase64()) +
                                    U("\">перейти на сайт</a>"));
    if (spec)
        html += U("</dl>\n");
    if (!card.DescriptionHtml.isEmpty())
        html += U("<div class=\"org-about\"><p>") + card.DescriptionHtml +
                U("</p><p>Информация обновлена.</p></div>\n<div class=\"org-report\"><span "
                  "class=\"org-report__link\">Нашли ошибку в описании?</span></div>\n");
    return html;
}

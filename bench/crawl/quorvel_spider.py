"""The crawl benchmark's peer: a Scrapy spider that walks the generated site the
way quorvel-scraper does (city page -> rubric links -> subrubric and numbered-page
links -> cards), finding links and card values with the same markers, and writes
one row per card. A benchmark peer only, not part of the program.

    scrapy runspider quorvel_spider.py -a base=https://127.0.0.1:PORT -a out=rows.csv -a pages=pages.txt
"""
import base64
import html
import re

import scrapy


def between(text, start, end, after=None):
    at = text.find(start)
    if at < 0:
        return ""
    at += len(start)
    if after is not None:
        second = text.find(after, at)
        if second < 0:
            return ""
        at = second + len(after)
    stop = text.find(end, at)
    return text[at:stop] if stop >= 0 else ""


def links(block, marker):
    found = []
    at = block.find(marker)
    while at >= 0:
        start = at + len(marker)
        stop = block.find('"', start)
        found.append(block[start:stop] if stop >= 0 else "")
        at = block.find(marker, start)
    return found


def clean(value):
    return re.sub(r"<[^>]*>", "", html.unescape(value)).strip().replace(";", ",").replace("\t", " ")


class QuorvelSpider(scrapy.Spider):
    name = "quorvel"
    custom_settings = {
        "CONCURRENT_REQUESTS": 2,
        "CONCURRENT_REQUESTS_PER_DOMAIN": 2,
        "DOWNLOAD_DELAY": 0,
        "ROBOTSTXT_OBEY": False,
        "COOKIES_ENABLED": False,
        "RETRY_TIMES": 14,
        "LOG_LEVEL": "WARNING",
        "TELNETCONSOLE_ENABLED": False,
        "REQUEST_FINGERPRINTER_IMPLEMENTATION": "2.7",
    }

    def __init__(self, base, out, pages, **kwargs):
        super().__init__(**kwargs)
        self.base = base.rstrip("/")
        self.pages = pages
        self.out = open(out, "w", encoding="utf-8")
        self.out.write("card;name;address;phones;hours;site;description;subrubric;list\n")

    def start_requests(self):
        yield scrapy.Request(self.base, callback=self.city_page)

    def absolute(self, link):
        return self.base + link if link.startswith("/") else link

    def city_page(self, response):
        text = response.text
        at = text.find('<h3 class="category-widget__title')
        while at >= 0:
            link = links(text[at:], 'href="')[:1]
            if link:
                yield scrapy.Request(self.absolute(link[0]), callback=self.list_page)
            at = text.find('<h3 class="category-widget__title', at + 10)
        yield from self.cards(response)

    def list_page(self, response):
        text = response.text
        for marker in ('<div class="organizations-all__list">', '<ul class="pagination-list">'):
            for link in links(between(text, marker, "</ul>"), '<a href="'):
                yield scrapy.Request(self.absolute(link), callback=self.list_page)
        yield from self.cards(response)

    def cards(self, response):
        text = response.text
        breadcrumb = clean(between(text, 'breadcrumbs-list__link is-current">', "</span>"))
        list_url = response.url
        if "/page-" in list_url:
            list_url = list_url[: list_url.find("/page-") + 1]
        block = between(text, '<div class="organization-category__widgets">', "<footer")
        for header in block.split(' class="org-widget-header__title">')[1:]:
            header = header[: header.find("</div>")]
            if "href=" in header:
                yield scrapy.Request(self.absolute(between(header, 'href="', '"')),
                                     callback=self.card_page, dont_filter=True,
                                     cb_kwargs={"subrubric": breadcrumb, "list_url": list_url})

    def card_page(self, response, subrubric, list_url):
        text = response.text
        value = lambda label, end="</": clean(between(text, label, end, 'spec__value">'))
        site = between(between(text, ">Сайт</span>", "</", 'spec__value">'), 'data-url="', '"')
        if site:
            site = base64.b64decode(site[: len(site) // 4 * 4] + "", validate=False).decode(
                "utf-8", "replace")
        last = text.rfind(">Нашли ошибку в описании?</span>")
        description = ""
        if last >= 0:
            start = text.rfind("</dl>", 0, last)
            description = between(text[start + 5 if start >= 0 else 0 : last], "<p>", "</p>")
        row = [response.url, clean(between(text, "<h1", "</h1>", ">")),
               " ".join(value(">Адрес</span>", "<").split()), value(">Телефон</span>"),
               value(">Режим работы</span>"), site, description.replace("\t", " "), subrubric,
               list_url]
        self.out.write(";".join(row) + "\n")

    def closed(self, reason):
        self.out.close()
        stats = self.crawler.stats
        with open(self.pages, "w") as out:
            out.write("%d %d\n" % (stats.get_value("response_received_count", 0),
                                    stats.get_value("downloader/exception_count", 0)))

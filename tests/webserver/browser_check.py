#!/usr/bin/python3
"""Drives headless Chromium against the test server: a form posted by a real
browser reaches the page, and a cookie a page sets comes back on the next
request. Any failure, including a browser that does not start, fails.

    browser_check.py BASE_URL
"""
import sys

from selenium import webdriver
from selenium.webdriver.chrome.options import Options
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

base = sys.argv[1]
options = Options()
for flag in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"):
    options.add_argument(flag)
browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
failures = []


def expect(text, where):
    source = browser.page_source
    if text not in source:
        failures.append(f"{where}: page lacks {text!r}: {source[:300]!r}")


try:
    browser.set_page_load_timeout(20)
    browser.get(base + "/form.htm")
    browser.find_element(By.NAME, "name").send_keys("Grace")
    browser.find_element(By.NAME, "comment").send_keys("a <b> & c")
    browser.find_element(By.CSS_SELECTOR, "input[type=submit]").click()
    WebDriverWait(browser, 20).until(lambda b: "Method: POST" in b.page_source)
    expect("<p>name: Grace</p>", "form post")
    expect("<p>comment: a &lt;b&gt; &amp; c</p>", "form post")

    browser.get(base + "/cookies.htm")
    expect("No flavour cookie was sent.", "before the cookie")
    browser.get(base + "/setcookie.htm?flavour=mint")
    expect("Cookie set.", "setting the cookie")
    browser.get(base + "/cookies.htm")
    expect("<p>Your flavour: mint</p>", "cookie read back")
finally:
    browser.quit()

for failure in failures:
    print(failure)
sys.exit(1 if failures else 0)

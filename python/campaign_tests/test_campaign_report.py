"""The campaign report opens in a browser (headless Chromium, offline):
no script errors, every plot drawn; a screenshot is kept to look at."""

import json
import os
import re
import shutil
import subprocess
import tempfile
import unittest

import guidew.campaign as gc

CAMPAIGN = """\
[campaign]
name = "sweep"
samples = 3
seed = 3

[scenario]
builtin = "typical"
duration_s = 20

[scenario.expect]
converge_within_s = 12

[dispersions]
"inputs.azim_cmd" = { grid = { from = 0, to = 180, steps = 5 } }
"inputs.elev_cmd" = { grid = [-30, 0, 30] }
"initial.altitude_m" = { uniform = [2000, 5000] }

[report]
paths = 6
worst = 2
"""  # 45 flights

CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--no-first-run",
                  # WebGL for the 3-D paths, in software: there is no GPU here.
                  "--enable-unsafe-swiftshader", "--virtual-time-budget=10000"]

# Records every script error, and once the page has loaded writes them and
# the number of drawn plots into the document, where --dump-dom shows them.
PROBE_HEAD = ("<script>window.__errors = [];"
              "window.addEventListener('error', function (e) { window.__errors.push(String(e.message)); });"
              "</script>")
PROBE_TAIL = ("<script>window.addEventListener('load', function () { setTimeout(function () {"
              "document.body.setAttribute('data-script-errors', JSON.stringify(window.__errors));"
              "document.body.setAttribute('data-plots-drawn', document.querySelectorAll('.js-plotly-plot .main-svg').length > 0 ?"
              " String(document.querySelectorAll('.js-plotly-plot').length) : '0');"
              "}, 500); });</script>")


def chromium():
    for name in ("chromium", "chromium-browser", "google-chrome"):
        if shutil.which(name):
            return shutil.which(name)
    raise unittest.SkipTest("no Chromium installed (scripts/setup.sh installs Debian's chromium)")


class Report(unittest.TestCase):
    def test_report_loads_offline_without_script_errors(self):
        browser = chromium()
        with tempfile.TemporaryDirectory() as folder:
            path = os.path.join(folder, "sweep.toml")
            with open(path, "w", encoding="utf-8") as f:
                f.write(CAMPAIGN)
            result = gc.run(path, workers=1, out=os.path.join(folder, "out"), progress=False)
            report = result.files["report"]
            with open(report, encoding="utf-8") as f:
                page = f.read()
            # Self-contained: no script or style fetched from anywhere.
            self.assertIsNone(re.search(r'<script[^>]+src=|<link[^>]+href=', page))
            self.assertIn("grid_pass_rate.png", " ".join(result.files["pictures"]))

            probed = os.path.join(folder, "probed.html")
            with open(probed, "w", encoding="utf-8") as f:
                f.write(page.replace("<head>", "<head>" + PROBE_HEAD, 1)
                            .replace("</body>", PROBE_TAIL + "</body>", 1))
            profile = os.path.join(folder, "profile")
            dom = subprocess.run([browser, *CHROMIUM_FLAGS, "--user-data-dir=" + profile,
                                  "--dump-dom", "file://" + probed],
                                 capture_output=True, text=True, timeout=120)
            errors = re.search(r'data-script-errors="([^"]*)"', dom.stdout)
            self.assertIsNotNone(errors, "the page never finished loading:\n" + dom.stderr[-2000:])
            self.assertEqual(json.loads(errors.group(1).replace("&quot;", '"')), [])
            drawn = int(re.search(r'data-plots-drawn="(\d+)"', dom.stdout).group(1))
            # Histograms, one scatter per dispersed variable, the heatmap, the paths.
            self.assertEqual(drawn, 1 + 3 + 1 + 1)

            shot = os.environ.get("CAMPAIGN_SCREENSHOT", os.path.join(folder, "report.png"))
            subprocess.run([browser, *CHROMIUM_FLAGS, "--user-data-dir=" + profile + "2",
                            "--window-size=1280,5200", "--screenshot=" + shot, "file://" + report],
                           capture_output=True, timeout=120, check=True)
            self.assertGreater(os.path.getsize(shot), 10000)


if __name__ == "__main__":
    unittest.main()

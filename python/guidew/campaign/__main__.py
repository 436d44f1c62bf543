"""python3 -m guidew.campaign FILE ...: the guide-campaign command."""

import sys

from ._cli import main

if __name__ == "__main__":
    sys.exit(main())

#!/bin/sh
# korvexd: the Korvex analyzer service, the program without a window. Stands
# in until the service is a program of its own; the options are the same.
exec /usr/lib/korvex/korvex --headless "$@"

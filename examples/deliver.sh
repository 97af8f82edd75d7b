#!/bin/sh
# Appends a realistic Procmail delivery to a log every few seconds, so that a
# Lurko watching the log shows mail arriving. Stop it with Ctrl-C.
#   examples/deliver.sh LOG [SECONDS]
# The entries have Procmail's own form: the From_ line with its date, the
# first Subject line, and the folder padded with tabs to column 72, followed
# by the size right-aligned in seven columns.
set -eu
[ $# -ge 1 ] || { echo "usage: $0 LOG [SECONDS]" >&2; exit 2; }
log=$1
pause=${2:-4}

deliver() {
    LC_ALL=C awk -v seed="$1" -v now="$(LC_ALL=C date -u '+%a %b %e %H:%M:%S %Y')" 'BEGIN {
        srand(seed)
        n = split("alice@example.org bob@example.org dev-bounces@lists.example.org " \
                  "users-bounces@lists.example.org boss@work.example.com " \
                  "noreply@bank.example.net spammer@spam.example", senders, " ")
        split("friends friends lists.dev/new/%d.%d_1.mailhost lists.users/new/%d.%d_1.mailhost " \
              "/home/user/Mail/inbox /home/user/Mail/bank /dev/null", folders, " ")
        split("Lunch on Friday?|Re: [dev] Patch: fix the build on arm64|How do I configure the thing?|" \
              "Meeting moved to 3pm|Your monthly statement|You have WON a prize!!!|Photos from the weekend",
              subjects, "|")
        i = int(rand() * n) + 1
        folder = sprintf(folders[i], int(rand() * 1e9), int(rand() * 30000))
        printf "From %s  %s\n", senders[i], now
        printf " Subject: %s\n", subjects[int(rand() * n) + 1]
        line = "  Folder: " folder
        column = length(line)
        tabs = ""
        while (column < 72) { tabs = tabs "\t"; column = int(column / 8) * 8 + 8 }
        printf "%s%s%7d\n", line, tabs, 200 + int(rand() * 4000)
    }' >> "$log"
}

count=0
while :; do
    count=$((count + 1))
    deliver "$$$count"
    sleep "$pause"
done

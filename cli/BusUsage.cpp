#include "cli/BusOptions.h"

#include "Version.h"

// Laid out for help2man: the usage lines, a paragraph of description, then sections whose
// headings end in a colon, options indented with their text in a column.
std::string BusUsage() {
    return R"(Usage: qd7-bus [OPTION]... scan [--from AA] [--to BB]
  or:  qd7-bus [OPTION]... read ADDR [REG]...
  or:  qd7-bus [OPTION]... watch ADDR... [--interval MS] [--count N]
  or:  qd7-bus [OPTION]... send BODY
Talk to QD7 pulse meters on an RS485 bus from the command line: find the meters,
read their registers, log their process values, send a frame typed by hand. Each
request waits for its reply only as long as the line needs, so a whole bus is
scanned in seconds.

Commands:
  scan              ask every address from --from to --to for its process value
                    P0 and list those that answer
  read ADDR [REG]...
                    read registers of one meter: the codes given, else all
                    eleven (P0 C0 C1 C2 C3 K0 K1 X0 X1 Y0 Y1)
  watch ADDR...     read P0 of each address again and again, one line per
                    reading, until Ctrl+C or --count rounds
  send BODY         send a 15-character frame body such as 07RX0P0+0000000
                    between STX and ETX with its CRC-8; show the reply in
                    hexadecimal and decoded

Options:
      --port PATH|COMn
                    the serial device, or COMn mapped as the window program
                    maps it ($QD7_COMn when set); default COM1
      --speed N     line speed in bit/s (default 9600)
      --data 7|8    data bits (default 8)
      --parity none|odd|even
                    parity (default none)
      --stop 1|2    stop bits (default 1)
      --bank 0|1    register bank asked for (default 0)
      --timeout MS  wait at most MS milliseconds from the start of a request
                    for the whole reply (default: the request's and the reply's
                    time on the line plus 50 ms, 107 ms at 9600 baud 8N1)
      --format text|csv|json
                    text: aligned lines for people; csv: a header row, then a
                    row per reading; json: one object per line
  -h, --help        show this help and exit
      --version     show the version and exit

Scan options:
      --from AA     first address (default 00)
      --to BB       last address (default 99)

Watch options:
      --interval MS
                    time from the start of one round to the start of the next
                    (default 1000)
      --count N     stop after N rounds (default: until interrupted)

Output:
  csv and json give the fields time, address, bank, register, value, decimals,
  status and raw. time is the start of the request in ISO 8601, UTC, with
  milliseconds; value is written with the reply's decimal places and a decimal
  point whatever the locale; raw is the reply's bytes in hexadecimal. status is
  ok, silent (no reply), corrupt (a reply cut short or with a wrong CRC) or
  rejected (a frame with a good CRC that is not the reply asked for).

  A reply is found by its ACK STX start, after noise or an echo of the request,
  and must carry the address, bank and register asked for. scan lists the
  addresses where something answered. csv writes its header row unless the
  output is a file that already holds data, so that a log can be appended to.
  Every line is flushed as it is written. Ctrl+C, SIGTERM or SIGHUP end a
  command after the line in hand, and the port is closed.

Exit status:
  0  every meter addressed answered (scan: at least one meter answered)
  1  some meter was silent, or its reply corrupt or rejected
  2  usage error
  3  the port cannot be opened

Examples:
  qd7-bus --port /dev/ttyUSB0 scan
                    find the meters behind a USB adapter
  qd7-bus --port COM2 --speed 19200 --bank 1 read 07
                    all eleven registers of meter 07 in bank 1
  qd7-bus --format csv watch 07 >> log.csv
                    log the process value of meter 07 every second
  qd7-bus send 07RX1C1+0000000
                    send a frame typed by hand and show the reply
)";
}

std::string BusVersion() {
    return std::string("qd7-bus (qd7test) ") + kQd7Version + "\n";
}

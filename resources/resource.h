/* Ids of the program's resources: commands, dialog controls. Read by the resource compiler as
   well as by C++, so only #define lines. */
#pragma once

/* Commands of the main window (menu, accelerators, buttons, popup menu). */
#define CMD_ABOUT 1
#define CMD_TIPS 2
#define CMD_HOW_TO_ORDER 3
#define CMD_DEPOSIT 310
#define CMD_SET_BALANCE 311
#define CMD_CHARGE 312
#define CMD_SET_CREDIT_LIMIT 313
#define CMD_PRINT_HISTORY 314
#define CMD_CHANGE_CONTEXT 316
#define CMD_EXIT 317
#define CMD_PREFERENCES 318
#define CMD_STATISTICS 319
#define CMD_REFRESH_SELECTION 999

/* MainDialog */
#define IDC_MAIN_LIST 101
#define IDC_BALANCE 301
#define IDC_CREDIT_LIMIT 302
#define IDC_FULL_NAME 304
#define IDC_CONTEXT 480

/* Preferences */
#define IDC_DBLCLICK_USER 407
#define IDC_DBLCLICK_GROUP 408
#define IDC_LOG_SERVER 409
#define IDC_SCHEMA_KEYWORD 410
#define IDC_NUMERICAL_FORMAT 411
#define IDC_LOG_FORMAT 412
#define IDC_RECORD_TRANSACTIONS 413
#define IDC_LOG_LOCATION 414

/* About */
#define IDC_VERSION 600

/* DirectoryPassword: the directory server's password, asked for at start */
#define IDC_PASSWORD_LOGIN 620
#define IDC_PASSWORD 621
#define IDC_PASSWORD_REFUSAL 622

/* ContextList (its current-context line is IDC_CONTEXT), GroupList */
#define IDC_CONTEXT_LIST 500
#define IDC_GROUP_LIST 650

/* DepositDialog, ChargeDialog, LimitDialog */
#define IDC_AMOUNT_PROMPT 450
#define IDC_AMOUNT_LABEL 451
#define IDC_AMOUNT 452
#define IDC_CHARGE_REASON 453
#define IDC_ALLOW_UNLIMITED 454

/* HistoryDialog: the progress dialog of the log-reading reports, and its own steps */
#define IDC_REPORT_STATUS 470
#define IDC_REPORT_PROGRESS 473
#define CMD_HISTORY_CONTINUE 471
#define CMD_STATS_PREPARE 719
#define CMD_STATS_CONTINUE 720

/* Stats */
#define IDC_STATS_USERS 700
#define IDC_STATS_PRINT_SERVERS 701
#define IDC_STATS_PRINTERS 702
#define IDC_STATS_QUEUES 703
#define IDC_STATS_CLIENT_CODES 704
#define IDC_STATS_GROUPS 705
#define IDC_STATS_BALANCES 706
#define IDC_STATS_OTHER_LOG 707
#define IDC_STATS_JOBTALLY_LOG 708

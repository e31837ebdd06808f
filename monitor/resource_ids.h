/* Control ids, timer ids and dialog texts of the port monitor.
   Plain C preprocessor definitions so that the dialog resource script and
   the C++ core share one source. Texts are ANSI (Windows-1252). */
#ifndef PORT_MONITOR_RESOURCE_IDS_H
#define PORT_MONITOR_RESOURCE_IDS_H

/* Dialog template */
#define IDD_EMULATION 100

/* Controls, in template (= tab) order */
#define IDC_PORT_ADDRESS 100   /* editable drop-down combo, neither filled nor read */
#define IDC_WRITE_DATA 160     /* hex value to write to register 0 */
#define IDC_SHOWN_DATA 176     /* read-back of register 0 (read-only) */
#define IDC_WRITE_STATUS 161   /* hex value to write to register 1 */
#define IDC_SHOWN_STATUS 177   /* read-back of register 1 (read-only) */
#define IDC_WRITE_CONTROL 162  /* hex value to write to register 2 */
#define IDC_SHOWN_CONTROL 178  /* read-back of register 2 (read-only) */
#define IDC_WRITE_ECR 170      /* hex value to write to register 10 */
#define IDC_MODE_LIST 102      /* drop-down list of the eight ECR modes */
#define IDC_SHOWN_ECR 186      /* read-back of register 10 (read-only) */
#define IDC_FIFO_FULL 120      /* disabled radio button: ECR bit 1 */
#define IDC_FIFO_EMPTY 121     /* disabled radio button: ECR bit 0 */
#define IDC_CFGA 168           /* cfgA, or the byte read */
#define IDC_READ_BYTE 131      /* button: read one byte */
#define IDC_TARGET_ADDRESS 122 /* radio: address/command side of a transfer */
#define IDC_TARGET_DATA 123    /* radio: data side of a transfer */
#define IDC_OUTPUT_BYTE 130    /* button: output one byte */
#define IDC_LABEL_CFGB 119     /* label of 169 in configuration mode */
#define IDC_CFGB 169           /* cfgB, or the byte to output */
#define IDC_LABEL_CFGA 118     /* label of 168 in configuration mode */
#define IDC_REFRESH_DATA 117   /* flat button: read register 0 now */

/* Window message codes the core reacts to (same values as the Win32 ones) */
#define MONITOR_IDCANCEL 2
#define MONITOR_CBN_SELCHANGE 1
#define MONITOR_EN_CHANGE 0x300

/* Timers: the poll, and one delay timer per hex field whose id is the field's id */
#define POLL_TIMER_ID 1
#define POLL_PERIOD_MS 100
#define DELAY_PERIOD_MS 500

/* Dialog texts */
#define TEXT_DIALOG_TITLE "Emulation"
#define TEXT_DIALOG_FONT "MS Shell Dlg"
#define TEXT_PORT_ADDRESS_LABEL "Emulierte Port&adresse:"
#define TEXT_GROUP_DATA "&Datenport (+0)"
#define TEXT_GROUP_STATUS "&Statusport (+1)"
#define TEXT_GROUP_CONTROL "S&teuerport (+2)"
#define TEXT_GROUP_ECR "&ECR (+402h)"
#define TEXT_FIFO_FULL "FIFO voll"
#define TEXT_FIFO_EMPTY "FIFO leer"
#define TEXT_READ_BYTE "Byte ein&lesen"
#define TEXT_TARGET_ADDRESS "&Adresse"
#define TEXT_TARGET_COMMAND "Komm&ando"
#define TEXT_TARGET_DATA "&Daten"
#define TEXT_OUTPUT_BYTE "Byte a&usgeben"
#define TEXT_LABEL_CFGB "cfgB (+401h)"
#define TEXT_LABEL_CFGA "cfgA (+400h)"
#define TEXT_REFRESH_DATA "Lesen"

#endif

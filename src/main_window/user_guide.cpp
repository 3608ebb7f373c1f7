#include "user_guide.h"

#include <QStringList>

namespace rava {

namespace {

// One entry per line; blanks inside the jumper table are part of the text.
const char* const kLines[] = {
    /*  1 */ "USER GUIDE:",
    /*  2 */ "",
    /*  3 */
    "This demo aims to verify the working of RAVA2 models. In order to do it, it has "
    "been provided the chance to send text files or to transfer images as bitmap, gif "
    "or jpeg format. For achieving a correct view of the program, it is advised to "
    "select the screen settings by clicking the mouse right button on the desktop and "
    "choosing the option Propriety: set the resolution of the screen to 800X600; then "
    "click on Advanced button and choose the option small characters as character "
    "size.",
    /*  4 */
    "Before starting any transmission it is recommended to set up the serial port "
    "configurations that you are going to use: select Set up tab and choose the "
    "desired port (COM1,COM2, COM3, COM4) and data specifications, such as baud rate "
    "and parity (number of data bit and stop bit are fixed).",
    /*  5 */
    "For setting up the baud rate on the Rava device, you have just to close jumpers 1 "
    "and 2 according to next table:",
    /*  6 */ "",
    /*  7 */ "",
    /*  8 */ "     J1             J2              Baud Rate",
    /*  9 */ "",
    /* 10 */ "     Open        Open          9600",
    /* 11 */ "     Open        Closed        19200",
    /* 12 */ "     Closed      Open          57600",
    /* 13 */ "     Closed      Closed        115200",
    /* 14 */ "",
    /* 15 */ "",
    /* 16 */
    "Remember that all configuration changes, by means of the jumpers, must be carried "
    "out when the module is switched off. Checksum is always performed.",
    /* 17 */ "",
    /* 18 */
    "In the register programming section it's possible to access to microcontroller "
    "EEPROM memory to read or write module address (0-255) and parity. For programming "
    "remind to close jumper 3 in the Rava2 module before suppling.",
    /* 19 */
    "In the last frame you have to specify if module is working in master or slave "
    "configuration and in the first case you have to indicate the receiver address (as "
    "default 0).",
    /* 20 */ "",
    /* 21 */
    "In order to transfer text files click on the Send text file tab and choose the "
    "file you want to send by means of Open button; text is viewed in the window in "
    "the bottom of the screen. On the receiver computer you have to click the Receive "
    "text file tab and the button Receive when you want to start the forwarding. At "
    "this time the receiver device is in stand-by and it waits for the incoming datas. "
    "On the transmitter computer it is now possible to start the forwarding by "
    "clicking the Send text button. On the receiver computer you will see the "
    "scrolling text during transmission: you can break it anytime by pushing the Break "
    "button, while you can clean the window by means of Clear button. In the receiver "
    "side it's also shown sender address.",
    /* 22 */ "",
    /* 23 */
    "In order to transfer an image, the procedure is similar to the previous case. On "
    "the transmitter side select Send image tab and click the Open button to find the "
    "image to send: it is possible to see it as preview in the upper window. On the "
    "receiver side select the Receive image tab and push the Receive button when you "
    "are ready to start. Now from the transmitter computer click the Send image button "
    "to start the forwarding: once it is completed, it will be possible to see the "
    "received image in the upper window of the receiver computer. Break button can be "
    "used for stopping the transmission anytime, while Clear button cleans the window. "
    "A progress bar helps you to understand the state of forwarding. Sender address is "
    "shown in a text box.",
    /* 24 */ "",
    /* 25 */
    "The Polling tab allows you to test the feature of the master station to query all "
    "slaves in reception obtaining from them a reply only if the command is "
    "recognised.",
    /* 26 */
    "In order to do it, in the master side it needs to mark the checkbox and write "
    "slave addresses and the command string which has to be recognised by the slave. "
    "After that, you can start polling operation by pushing Start button: master "
    "module will begin to query all marked slaves in no ending loop until End button "
    "is pushed. The pause between two queries is 5 seconds, so if slaves in reception "
    "are three, for example, the elapsed time between two queries to the same slave is "
    "15 seconds.",
    /* 27 */
    "When the slave receives the command, compares this with its own string filled in "
    "Master command textbox. If these are equal, it replies sending a string put in "
    "Slave reply box; otherwise the slave module answers with a message of error "
    "command and in master PC is shown this case with a red light, while the valid "
    "reply is indicated with a green light.",
};

} // namespace

QString userGuideText() {
    QStringList lines;
    for (const char* line : kLines)
        lines << QString::fromLatin1(line);
    return lines.join(QStringLiteral("\r\n"));
}

} // namespace rava

<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="ru_RU">
<context>
    <name>AudioError</name>
    <message>
        <source>The operation completed successfully.</source>
        <translation>Операция выполнена успешно.</translation>
    </message>
    <message>
        <source>The sound device is not open: no sound file was opened for it.</source>
        <translation>Звуковое устройство не открыто: для него не открыт звуковой файл.</translation>
    </message>
    <message>
        <source>The sound file cannot be opened for reading.</source>
        <translation>Звуковой файл не удаётся открыть для чтения.</translation>
    </message>
    <message>
        <source>The file is not a sound file that can be read.</source>
        <translation>Файл не является звуковым файлом, который можно прочитать.</translation>
    </message>
    <message>
        <source>The sound system cannot handle the audio format of this file.</source>
        <translation>Звуковая система не поддерживает аудиоформат этого файла.</translation>
    </message>
    <message>
        <source>No sound system is available: the sound server is not running or there is no audio device.</source>
        <translation>Звуковая система недоступна: звуковой сервер не запущен или нет аудиоустройства.</translation>
    </message>
    <message>
        <source>There is no audio output device to play the sound on.</source>
        <translation>Нет устройства вывода звука для воспроизведения.</translation>
    </message>
    <message>
        <source>There is no audio input device to record from.</source>
        <translation>Нет устройства ввода звука для записи.</translation>
    </message>
    <message>
        <source>The audio output device failed or was disconnected.</source>
        <translation>Устройство вывода звука дало сбой или было отключено.</translation>
    </message>
    <message>
        <source>The audio input device failed or was disconnected.</source>
        <translation>Устройство ввода звука дало сбой или было отключено.</translation>
    </message>
    <message>
        <source>The position lies beyond the end of the sound.</source>
        <translation>Позиция находится за концом звука.</translation>
    </message>
    <message>
        <source>The sound device is busy recording; stop the recording first.</source>
        <translation>Звуковое устройство занято записью; сначала остановите запись.</translation>
    </message>
    <message>
        <source>The sound file could not be written.</source>
        <translation>Не удалось записать звуковой файл.</translation>
    </message>
    <message>
        <source>There is not enough memory for the sound.</source>
        <translation>Недостаточно памяти для звука.</translation>
    </message>
    <message>
        <source>Too many sound devices are open.</source>
        <translation>Открыто слишком много звуковых устройств.</translation>
    </message>
    <message>
        <source>The sound device reported a failure.</source>
        <translation>Звуковое устройство сообщило о сбое.</translation>
    </message>
    <message>
        <source>Unknown sound error %1.</source>
        <translation>Неизвестная ошибка звука %1.</translation>
    </message>
    <message>
        <source>The recording was cut short: there was no memory left for it. What was captured until then is kept.</source>
        <translation>Запись прервана: для неё не осталось памяти. Всё записанное до этого момента сохранено.</translation>
    </message>
    <message>
        <source>The play range %1 to %2 ms does not lie within the sound&apos;s %3 ms.</source>
        <translation>Диапазон воспроизведения от %1 до %2 мс выходит за пределы звука длиной %3 мс.</translation>
    </message>
    <message>
        <source>The recording position %1 ms lies beyond the end of the sound (%2 ms).</source>
        <translation>Позиция записи %1 мс находится за концом звука (%2 мс).</translation>
    </message>
    <message>
        <source>No sound system is available: the sound client library could not start its thread.</source>
        <translation>Звуковая система недоступна: клиентская библиотека звука не смогла запустить свой поток.</translation>
    </message>
    <message>
        <source>the sound server does not answer</source>
        <translation>звуковой сервер не отвечает</translation>
    </message>
    <message>
        <source>No sound system is available: %1.</source>
        <translation>Звуковая система недоступна: %1.</translation>
    </message>
    <message>
        <source>The recording was cut short: the connection to the sound server was lost (%1). What was captured until then is kept.</source>
        <translation>Запись прервана: потеряно соединение со звуковым сервером (%1). Всё записанное до этого момента сохранено.</translation>
    </message>
    <message>
        <source>The recording was cut short: the audio input delivered no sound for 2 seconds. What was captured until then is kept.</source>
        <translation>Запись прервана: устройство ввода 2 секунды не передавало звук. Всё записанное до этого момента сохранено.</translation>
    </message>
    <message>
        <source>The input is measured all the time while it is kept open for the next take.</source>
        <translation>Пока вход открыт для следующего дубля, его уровень измеряется постоянно.</translation>
    </message>
    <message>
        <source>A lead-in of %1 ms is longer than the %2 ms an input can be kept for.</source>
        <translation>Запас перед записью %1 мс больше %2 мс, на которые можно удерживать вход открытым.</translation>
    </message>
    <message>
        <source>The sound system cannot record %1.</source>
        <translation>Звуковая система не может записывать в формате %1.</translation>
    </message>
    <message>
        <source>The sound system cannot play %1.</source>
        <translation>Звуковая система не может воспроизводить формат %1.</translation>
    </message>
    <message>
        <source>the sound server did not start it in time</source>
        <translation>звуковой сервер не запустил его вовремя</translation>
    </message>
    <message>
        <source>The audio input cannot be started: %1.</source>
        <translation>Не удаётся запустить ввод звука: %1.</translation>
    </message>
    <message>
        <source>The audio output cannot be started: %1.</source>
        <translation>Не удаётся запустить вывод звука: %1.</translation>
    </message>
    <message>
        <source>The recording was cut short: the audio input failed or was disconnected (%1). What was captured until then is kept.</source>
        <translation>Запись прервана: устройство ввода звука дало сбой или было отключено (%1). Всё записанное до этого момента сохранено.</translation>
    </message>
    <message>
        <source>%1 Hz, %2 channel(s), %3</source>
        <translation>%1 Гц, каналов: %2, %3</translation>
    </message>
    <message>
        <source>Wave Error</source>
        <translation>Ошибка звука</translation>
    </message>
    <message>
        <source>Bad play parameter</source>
        <translation>Неверный параметр воспроизведения</translation>
    </message>
    <message>
        <source>play</source>
        <translation>воспроизведение</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>Wave Stop Error</source>
        <translation>Ошибка остановки звука</translation>
    </message>
</context>
<context>
    <name>CVoxtarApp</name>
    <message>
        <source>Cannot open </source>
        <translation>Не удаётся открыть </translation>
    </message>
    <message>
        <source>Voxtar - choose the working directory</source>
        <translation>Voxtar — выбор рабочей папки</translation>
    </message>
    <message>
        <source>Cannot open directory</source>
        <translation>Не удаётся открыть папку</translation>
    </message>
</context>
<context>
    <name>DialogTemplate</name>
    <message>
        <source>Voxtar, version 2.5</source>
        <translation>Voxtar, версия 2.5</translation>
    </message>
    <message>
        <source>OK</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>About Voxtar</source>
        <translation>О программе Voxtar</translation>
    </message>
    <message>
        <source>Prompt text</source>
        <translation>Текст реплики</translation>
    </message>
    <message>
        <source>Previous prompt</source>
        <translation>Предыдущая реплика</translation>
    </message>
    <message>
        <source>Next prompt</source>
        <translation>Следующая реплика</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Слушать</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>Statistics:</source>
        <translation>Сведения:</translation>
    </message>
    <message>
        <source>List</source>
        <translation>Список</translation>
    </message>
    <message>
        <source>Open</source>
        <translation>Открыть</translation>
    </message>
    <message>
        <source>Goto</source>
        <translation>Перейти</translation>
    </message>
</context>
<context>
    <name>FailureText</name>
    <message>
        <source>Cannot save %1: it is a symbolic link (to %2)</source>
        <translation>Нельзя сохранить %1: это символическая ссылка (на %2)</translation>
    </message>
    <message>
        <source>Cannot save %1: %2</source>
        <translation>Нельзя сохранить %1: %2</translation>
    </message>
    <message>
        <source>Cannot save %1: it is a link to %2 outside the working directory</source>
        <translation>Нельзя сохранить %1: это ссылка на %2 за пределами рабочей папки</translation>
    </message>
    <message>
        <source>Cannot save %1: it is a link to %2, which is not a file of its kind</source>
        <translation>Нельзя сохранить %1: это ссылка на %2, файл другого рода</translation>
    </message>
    <message>
        <source>Cannot save %1: it is a directory</source>
        <translation>Нельзя сохранить %1: это папка</translation>
    </message>
    <message>
        <source>Cannot save %1: it is not a regular file</source>
        <translation>Нельзя сохранить %1: это не обычный файл</translation>
    </message>
    <message>
        <source>Cannot save %1: it is read-only</source>
        <translation>Нельзя сохранить %1: файл только для чтения</translation>
    </message>
    <message>
        <source>Cannot set the permissions of %1: %2</source>
        <translation>Нельзя задать права доступа к %1: %2</translation>
    </message>
    <message>
        <source>Cannot create a temporary file in %1: %2</source>
        <translation>Нельзя создать временный файл в %1: %2</translation>
    </message>
    <message>
        <source>Cannot write %1: the file is not open</source>
        <translation>Нельзя записать %1: файл не открыт</translation>
    </message>
    <message>
        <source>Cannot save %1: the file is not open</source>
        <translation>Нельзя сохранить %1: файл не открыт</translation>
    </message>
    <message>
        <source>Cannot write %1: %2</source>
        <translation>Нельзя записать %1: %2</translation>
    </message>
    <message>
        <source>Cannot save %1: it turned into a link to %2</source>
        <translation>Нельзя сохранить %1: он стал ссылкой на %2</translation>
    </message>
    <message>
        <source>Cannot save %1: it changed on disk since it was read</source>
        <translation>Нельзя сохранить %1: файл изменился на диске после чтения</translation>
    </message>
    <message>
        <source>Cannot keep a backup of %1: %2</source>
        <translation>Нельзя сохранить резервную копию %1: %2</translation>
    </message>
    <message>
        <source>Cannot flush %1 to disk: %2</source>
        <translation>Нельзя сбросить %1 на диск: %2</translation>
    </message>
    <message>
        <source>Cannot replace %1: %2</source>
        <translation>Нельзя заменить %1: %2</translation>
    </message>
    <message>
        <source>Nothing was captured, so there is no take to save</source>
        <translation>Ничего не записано, поэтому сохранять нечего</translation>
    </message>
    <message>
        <source>Not the name of a take: &quot;%1&quot;</source>
        <translation>Недопустимое имя дубля: «%1»</translation>
    </message>
    <message>
        <source>There is no earlier take %1 of %2</source>
        <translation>Прежнего дубля %1 у %2 нет</translation>
    </message>
    <message>
        <source>The folder of earlier takes cannot be made</source>
        <translation>Не удаётся создать папку прежних дублей</translation>
    </message>
    <message>
        <source>The folder of earlier takes is refused</source>
        <translation>Папка прежних дублей отвергнута</translation>
    </message>
    <message>
        <source>it is a symbolic link, not a folder of the prompt directory</source>
        <translation>это символическая ссылка, а не папка в папке реплик</translation>
    </message>
    <message>
        <source>The folder of earlier takes cannot be opened</source>
        <translation>Не удаётся открыть папку прежних дублей</translation>
    </message>
    <message>
        <source>The prompt directory cannot be opened</source>
        <translation>Не удаётся открыть папку реплик</translation>
    </message>
    <message>
        <source>The earlier take cannot be kept</source>
        <translation>Не удаётся сохранить прежний дубль</translation>
    </message>
    <message>
        <source>not a regular file</source>
        <translation>не обычный файл</translation>
    </message>
    <message>
        <source>too many takes replaced in the same millisecond</source>
        <translation>слишком много дублей заменено за одну миллисекунду</translation>
    </message>
    <message>
        <source>The sound file cannot be created</source>
        <translation>Не удаётся создать звуковой файл</translation>
    </message>
    <message>
        <source>The take could not be saved</source>
        <translation>Не удалось сохранить дубль</translation>
    </message>
    <message>
        <source>The earlier take cannot be restored</source>
        <translation>Не удаётся восстановить прежний дубль</translation>
    </message>
    <message>
        <source>The earlier take was not restored</source>
        <translation>Прежний дубль не восстановлен</translation>
    </message>
    <message>
        <source>the take there is not the earlier take</source>
        <translation>на его месте не прежний дубль</translation>
    </message>
    <message>
        <source>The number of earlier takes to keep cannot be negative</source>
        <translation>Число оставляемых прежних дублей не может быть отрицательным</translation>
    </message>
    <message>
        <source>An earlier take cannot be removed</source>
        <translation>Не удаётся удалить прежний дубль</translation>
    </message>
    <message>
        <source>not &quot;key = value&quot;: &apos;%1&apos;</source>
        <translation>не «ключ = значение»: «%1»</translation>
    </message>
    <message>
        <source>unknown key</source>
        <translation>неизвестный ключ</translation>
    </message>
    <message>
        <source>given twice</source>
        <translation>задан дважды</translation>
    </message>
    <message>
        <source>unknown profile &apos;%1&apos;</source>
        <translation>неизвестный профиль «%1»</translation>
    </message>
    <message>
        <source>&apos;%1&apos; is neither on nor off</source>
        <translation>«%1» — ни on, ни off</translation>
    </message>
    <message>
        <source>unknown voice &apos;%1&apos;</source>
        <translation>неизвестный голос «%1»</translation>
    </message>
    <message>
        <source>bad number &apos;%1&apos;</source>
        <translation>неверное число «%1»</translation>
    </message>
    <message>
        <source>%1 is out of range (at least %2 %3)</source>
        <translation>%1 вне допустимых пределов (не меньше %2 %3)</translation>
    </message>
    <message>
        <source>%1 is out of range (from %2 to %3 %4)</source>
        <translation>%1 вне допустимых пределов (от %2 до %3 %4)</translation>
    </message>
    <message>
        <source>%1 is above %2 %3 (line %4)</source>
        <translation>%1 больше, чем %2 %3 (строка %4)</translation>
    </message>
    <message>
        <source>%1 is above %2 %3 (profile %4)</source>
        <translation>%1 больше, чем %2 %3 (профиль %4)</translation>
    </message>
    <message>
        <source>%1 is below %2 %3 (line %4)</source>
        <translation>%1 меньше, чем %2 %3 (строка %4)</translation>
    </message>
    <message>
        <source>%1 is below %2 %3 (profile %4)</source>
        <translation>%1 меньше, чем %2 %3 (профиль %4)</translation>
    </message>
    <message>
        <source>too large for a profile file</source>
        <translation>слишком велик для файла профиля</translation>
    </message>
    <message>
        <source>a link to %1, which does not exist</source>
        <translation>ссылка на несуществующий %1</translation>
    </message>
    <message>
        <source>cannot be read: permission denied</source>
        <translation>не читается: нет доступа</translation>
    </message>
    <message>
        <source>a directory, not a profile file</source>
        <translation>папка, а не файл профиля</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>не читается</translation>
    </message>
    <message>
        <source>neither a built-in profile (%1) nor a file</source>
        <translation>ни встроенный профиль (%1), ни файл</translation>
    </message>
</context>
<context>
    <name>JudgementText</name>
    <message>
        <source>clipped</source>
        <translation>перегрузка</translation>
    </message>
    <message>
        <source>too quiet</source>
        <translation>слишком тихо</translation>
    </message>
    <message>
        <source>too loud</source>
        <translation>слишком громко</translation>
    </message>
    <message>
        <source>silent</source>
        <translation>тишина</translation>
    </message>
    <message>
        <source>cut at the start</source>
        <translation>обрезано начало</translation>
    </message>
    <message>
        <source>cut at the end</source>
        <translation>обрезан конец</translation>
    </message>
    <message>
        <source>long silence at the start</source>
        <translation>длинная пауза в начале</translation>
    </message>
    <message>
        <source>long silence at the end</source>
        <translation>длинная пауза в конце</translation>
    </message>
    <message>
        <source>noisy</source>
        <translation>шумно</translation>
    </message>
    <message>
        <source>loudness off target</source>
        <translation>громкость вне нормы</translation>
    </message>
    <message>
        <source>true peak too high</source>
        <translation>истинный пик слишком высок</translation>
    </message>
    <message>
        <source>format mismatch</source>
        <translation>не тот формат</translation>
    </message>
    <message>
        <source>loudness unlike the lesson</source>
        <translation>громкость отличается от урока</translation>
    </message>
    <message>
        <source>pace unlike the lesson</source>
        <translation>темп отличается от урока</translation>
    </message>
    <message>
        <source>.</source>
        <comment>decimal separator</comment>
        <translation>,</translation>
    </message>
    <message>
        <source>%1 (1 sample)</source>
        <translation>%1 (1 отсчёт)</translation>
    </message>
    <message>
        <source>%1 (peak %2 dB)</source>
        <translation>%1 (пик %2 дБ)</translation>
    </message>
    <message>
        <source>%1 (RMS %2 dB)</source>
        <translation>%1 (RMS %2 дБ)</translation>
    </message>
    <message>
        <source>%1 (floor %2 dB)</source>
        <translation>%1 (фон %2 дБ)</translation>
    </message>
    <message>
        <source>%1 (SNR %2 dB)</source>
        <translation>%1 (сигнал/шум %2 дБ)</translation>
    </message>
    <message>
        <source>%1 (%2 s)</source>
        <translation>%1 (%2 с)</translation>
    </message>
    <message>
        <source>loudness %1 LUFS</source>
        <translation>громкость %1 LUFS</translation>
    </message>
    <message>
        <source>true peak %1 dBTP</source>
        <translation>истинный пик %1 dBTP</translation>
    </message>
    <message>
        <source>%1 LU louder than the lesson</source>
        <translation>на %1 LU громче урока</translation>
    </message>
    <message>
        <source>%1 LU quieter than the lesson</source>
        <translation>на %1 LU тише урока</translation>
    </message>
    <message>
        <source>%1 % faster than the lesson</source>
        <translation>на %1 % быстрее урока</translation>
    </message>
    <message>
        <source>%1 % slower than the lesson</source>
        <translation>на %1 % медленнее урока</translation>
    </message>
    <message>
        <source>%1 (%2, not %3)</source>
        <translation>%1 (%2 вместо %3)</translation>
    </message>
    <message>
        <source>ok, peak %1 dB, %2 s</source>
        <translation>в порядке, пик %1 дБ, %2 с</translation>
    </message>
    <message numerus="yes">
        <source>%1 (%2 samples)</source>
        <translation>
            <numerusform>%1 (%2 отсчёт)</numerusform>
            <numerusform>%1 (%2 отсчёта)</numerusform>
            <numerusform>%1 (%2 отсчётов)</numerusform>
        </translation>
    </message>
    <message>
        <source>does not match its text</source>
        <translation>не совпадает со своим текстом</translation>
    </message>
    <message>
        <source>incomplete</source>
        <translation>прочитано не полностью</translation>
    </message>
    <message>
        <source>extra speech</source>
        <translation>лишняя речь</translation>
    </message>
    <message>
        <source>does not match its text (match %1)</source>
        <translation>не совпадает со своим текстом (совпадение %1)</translation>
    </message>
    <message>
        <source>does not match its text (%1 % of it said)</source>
        <translation>не совпадает со своим текстом (сказано %1 %)</translation>
    </message>
    <message>
        <source>does not match its text (more was said)</source>
        <translation>не совпадает со своим текстом (сказано больше)</translation>
    </message>
</context>
<context>
    <name>OperatorBoxes</name>
    <message>
        <source>Open read-only</source>
        <translation>Открыть только для чтения</translation>
    </message>
    <message>
        <source>Take over</source>
        <translation>Перехватить</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
    <message>
        <source>%1 is open in another window: %2.

Read-only, its takes can be played, but nothing can be recorded, changed or saved.</source>
        <translation>Файл %1 открыт в другом окне: %2.

Только для чтения: дубли можно прослушать, но ничего нельзя записать, изменить или сохранить.</translation>
    </message>
    <message>
        <source>The window on %1 may still be open. If it writes the lesson later, it is asked before it writes over what is saved here.

Take the lesson over?</source>
        <translation>Окно на компьютере %1, возможно, ещё открыто. Если оно позже станет записывать урок, то перед тем как записать поверх сохранённого здесь, оно спросит.

Перехватить урок?</translation>
    </message>
    <message>
        <source>%1 is a link to %2, outside the working directory. The lesson is open for viewing only: nothing of it is written there, and nothing can be recorded.</source>
        <translation>%1 — ссылка на %2 за пределами рабочей папки. Урок открыт только для просмотра: туда ничего из него не записывается, и записывать нельзя.</translation>
    </message>
    <message numerus="yes">
        <source> %n lines are beyond the limits.</source>
        <translation>
            <numerusform> %n строка превышает ограничения.</numerusform>
            <numerusform> %n строки превышают ограничения.</numerusform>
            <numerusform> %n строк превышают ограничения.</numerusform>
        </translation>
    </message>
    <message>
        <source> The lesson is open for viewing only: written back, the index would lose text, and nothing can be recorded.</source>
        <translation> Урок открыт только для просмотра: при записи обратно индекс потерял бы текст, и записывать нельзя.</translation>
    </message>
    <message>
        <source>%1 was changed on disk by another program since this window read it.

Overwrite it with the lesson shown here? The other version is kept beside it as %2.</source>
        <translation>Файл %1 изменён на диске другой программой после того, как это окно его прочитало.

Записать вместо него урок, показанный здесь? Другая версия сохранится рядом под именем %2.</translation>
    </message>
    <message>
        <source>Overwrite</source>
        <translation>Перезаписать</translation>
    </message>
    <message>
        <source>Retry</source>
        <translation>Повторить</translation>
    </message>
    <message>
        <source>Discard changes</source>
        <translation>Отбросить изменения</translation>
    </message>
    <message>
        <source>Cannot write file</source>
        <translation>Не удаётся записать файл</translation>
    </message>
    <message>
        <source>Invalid Directory</source>
        <translation>Неверная папка</translation>
    </message>
    <message>
        <source>File not found!</source>
        <translation>Файл не найден!</translation>
    </message>
    <message>
        <source>File is empty</source>
        <translation>Файл пуст</translation>
    </message>
    <message>
        <source>

The takes are judged by the built-in profile &quot;course&quot; until the profile file is mended.</source>
        <translation>

Пока файл профиля не исправлен, дубли оцениваются по встроенному профилю «course».</translation>
    </message>
    <message>
        <source>Delivery profile</source>
        <translation>Профиль требований</translation>
    </message>
    <message>
        <source>The take of %1 is not saved.</source>
        <translation>Дубль %1 не сохранён.</translation>
    </message>
    <message>
        <source>Save again</source>
        <translation>Сохранить снова</translation>
    </message>
    <message>
        <source>Discard take</source>
        <translation>Отбросить дубль</translation>
    </message>
    <message>
        <source>The take of %1 reached the longest sound a WAV file can hold, so it was stopped and saved.</source>
        <translation>Дубль %1 достиг наибольшей длины, которую вмещает файл WAV, поэтому он остановлен и сохранён.</translation>
    </message>
    <message>
        <source>Position = -1</source>
        <translation>Позиция = -1</translation>
    </message>
    <message>
        <source>being locked by another program (its lock file does not name it yet)</source>
        <translation>его блокирует другая программа (файл блокировки пока её не называет)</translation>
    </message>
    <message>
        <source>locked by %1 on %2, process %3, since %4</source>
        <translation>заблокирован пользователем %1 на %2, процесс %3, с %4</translation>
    </message>
    <message>
        <source>name of %1 characters, more than %2</source>
        <translation>имя длиной %1 знаков, больше %2</translation>
    </message>
    <message>
        <source>text of %1 characters, more than %2</source>
        <translation>текст длиной %1 знаков, больше %2</translation>
    </message>
    <message>
        <source>text after a carriage return or NUL character</source>
        <translation>текст после возврата каретки или знака NUL</translation>
    </message>
    <message>
        <source>within the limits</source>
        <translation>в пределах ограничений</translation>
    </message>
</context>
<context>
    <name>voxtar::session::RecordingFlow</name>
    <message>
        <source>Invalid prompt name</source>
        <translation>Недопустимое имя реплики</translation>
    </message>
    <message>
        <source>Cannot record</source>
        <translation>Запись невозможна</translation>
    </message>
    <message>
        <source>Takes are recorded in the format of %1, and no sound file can be written in that format.</source>
        <translation>Дубли записываются в формате файла %1, а звуковой файл в этом формате записать нельзя.</translation>
    </message>
    <message>
        <source>The take was discarded</source>
        <translation>Дубль отброшен</translation>
    </message>
    <message>
        <source>Nothing was recorded: the take is not saved</source>
        <translation>Ничего не записано: дубль не сохранён</translation>
    </message>
    <message>
        <source>Error</source>
        <translation>Ошибка</translation>
    </message>
    <message>
        <source>The take is not saved: Ctrl+S saves it again</source>
        <translation>Дубль не сохранён: Ctrl+S сохранит его снова</translation>
    </message>
    <message>
        <source>No capture margin before Record: </source>
        <translation>Без запаса перед записью: </translation>
    </message>
    <message>
        <source>Level Check Error</source>
        <translation>Ошибка проверки уровня</translation>
    </message>
</context>
<context>
    <name>voxtar::ui::CVoxtarDlg</name>
    <message>
        <source>&amp;Record / Stop</source>
        <translation>&amp;Запись / Стоп</translation>
    </message>
    <message>
        <source>&amp;Play / Stop</source>
        <translation>&amp;Слушать / Стоп</translation>
    </message>
    <message>
        <source>Pre&amp;vious prompt</source>
        <translation>&amp;Предыдущая реплика</translation>
    </message>
    <message>
        <source>&amp;Next prompt</source>
        <translation>С&amp;ледующая реплика</translation>
    </message>
    <message>
        <source>&amp;Undo take</source>
        <translation>&amp;Отменить дубль</translation>
    </message>
    <message>
        <source>Next &amp;flagged take</source>
        <translation>Следующий по&amp;меченный дубль</translation>
    </message>
    <message>
        <source>&amp;Discard take</source>
        <translation>О&amp;тбросить дубль</translation>
    </message>
    <message>
        <source>Play &amp;earlier take</source>
        <translation>Слушать пр&amp;ежний дубль</translation>
    </message>
    <message>
        <source>&lt;Playing&gt;</source>
        <translation>&lt;Звучит&gt;</translation>
    </message>
    <message>
        <source>Play</source>
        <translation>Слушать</translation>
    </message>
    <message>
        <source>Record</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>[STOP]</source>
        <translation>[СТОП]</translation>
    </message>
    <message>
        <source>&lt;Record&gt;</source>
        <translation>&lt;Запись&gt;</translation>
    </message>
    <message>
        <source> (read-only)</source>
        <translation> (только чтение)</translation>
    </message>
    <message>
        <source>Check &amp;level</source>
        <translation>Проверка у&amp;ровня</translation>
    </message>
    <message>
        <source>&amp;Input device</source>
        <translation>Устройство &amp;ввода</translation>
    </message>
    <message>
        <source>&amp;Output device</source>
        <translation>Устройство в&amp;ывода</translation>
    </message>
    <message>
        <source>&amp;Earlier takes</source>
        <translation>Пре&amp;жние дубли</translation>
    </message>
    <message>
        <source>cannot be read: </source>
        <translation>не читается: </translation>
    </message>
    <message>
        <source>%1. %2, %3 s, %4</source>
        <translation>%1. %2, %L3 с, %4</translation>
    </message>
    <message>
        <source>&amp;Play</source>
        <translation>&amp;Слушать</translation>
    </message>
    <message>
        <source>&amp;Restore as the take</source>
        <translation>&amp;Вернуть как дубль</translation>
    </message>
    <message>
        <source>System default</source>
        <translation>Системное по умолчанию</translation>
    </message>
    <message>
        <source>Lexaro IDX Files (*.idx)</source>
        <translation>Файлы IDX Lexaro (*.idx)</translation>
    </message>
    <message>
        <source>NO AVTION</source>
        <translation>НЕТ ДЕЙСТВИЯ</translation>
    </message>
    <message>
        <source>Show &amp;waveform</source>
        <translation>Показывать &amp;форму волны</translation>
    </message>
    <message>
        <source>Capture &amp;margins</source>
        <translation>З&amp;апас записи</translation>
    </message>
    <message>
        <source>Off</source>
        <translation>Выкл.</translation>
    </message>
    <message>
        <source>%1 ms</source>
        <translation>%1 мс</translation>
    </message>
    <message>
        <source>&amp;Before Record</source>
        <translation>&amp;Перед записью</translation>
    </message>
    <message>
        <source>&amp;After Stop</source>
        <translation>П&amp;осле остановки</translation>
    </message>
    <message>
        <source>&amp;Advance after a good take</source>
        <translation>Переходить &amp;дальше после удачного дубля</translation>
    </message>
    <message>
        <source>Play each &amp;take</source>
        <translation>Слушать каждый д&amp;убль</translation>
    </message>
    <message>
        <source>&lt;File not found&gt;</source>
        <translation>&lt;Файл не найден&gt;</translation>
    </message>
    <message>
        <source>&amp;About Voxtar...</source>
        <translation>О про&amp;грамме Voxtar…</translation>
    </message>
    <message>
        <source>not a sound file that can be read</source>
        <translation>это не звуковой файл, который можно прочитать</translation>
    </message>
    <message>
        <source>no sample rate</source>
        <translation>не указана частота дискретизации</translation>
    </message>
    <message>
        <source>Listening</source>
        <translation>Слушаю</translation>
    </message>
    <message>
        <source>Recording</source>
        <translation>Запись</translation>
    </message>
    <message>
        <source>Ending</source>
        <translation>Завершение</translation>
    </message>
    <message>
        <source>Waiting for voice</source>
        <translation>Ожидание голоса</translation>
    </message>
    <message>
        <source>Paused: the take is full</source>
        <translation>Пауза: дубль заполнен</translation>
    </message>
    <message>
        <source>&amp;Hands-free</source>
        <translation>Запись &amp;без рук</translation>
    </message>
    <message>
        <source>End &amp;silence</source>
        <translation>Тишина в &amp;конце</translation>
    </message>
    <message>
        <source>Tick at each take&apos;s &amp;end</source>
        <translation>Сиг&amp;нал в конце дубля</translation>
    </message>
</context>
<context>
    <name>voxtar::ui::LevelMeterWidget</name>
    <message>
        <source>Input level</source>
        <translation>Уровень входа</translation>
    </message>
    <message>
        <source>CLIP</source>
        <translation>CLIP</translation>
    </message>
    <message>
        <source>no signal</source>
        <translation>нет сигнала</translation>
    </message>
    <message>
        <source>last take: </source>
        <translation>последний дубль: </translation>
    </message>
    <message>
        <source>peak %1 dB, RMS %2 dB</source>
        <translation>пик %1 дБ, RMS %2 дБ</translation>
    </message>
    <message>
        <source>, clipped</source>
        <translation>, перегрузка</translation>
    </message>
    <message>
        <source>Waiting for voice</source>
        <translation>Ожидание голоса</translation>
    </message>
</context>
<context>
    <name>voxtar::ui::TLessonsDialog</name>
    <message>
        <source>Lessons</source>
        <translation>Уроки</translation>
    </message>
    <message>
        <source>Ok</source>
        <translation>ОК</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Отмена</translation>
    </message>
</context>
<context>
    <name>voxtar::ui::WaveformView</name>
    <message>
        <source>Take waveform</source>
        <translation>Форма волны дубля</translation>
    </message>
    <message>
        <source>The take cannot be read</source>
        <translation>Дубль не читается</translation>
    </message>
    <message>
        <source>No take</source>
        <translation>Нет дубля</translation>
    </message>
    <message>
        <source>Reading the take</source>
        <translation>Чтение дубля</translation>
    </message>
    <message>
        <source>Recording, %1 s</source>
        <translation>Запись, %1 с</translation>
    </message>
    <message>
        <source> s</source>
        <translation> с</translation>
    </message>
    <message>
        <source>, voice %1 to %2 s</source>
        <translation>, голос с %1 по %2 с</translation>
    </message>
    <message>
        <source>, silent</source>
        <translation>, тишина</translation>
    </message>
    <message>
        <source>, peak %1 dB</source>
        <translation>, пик %1 дБ</translation>
    </message>
    <message>
        <source>, clipped</source>
        <translation>, перегрузка</translation>
    </message>
</context>
</TS>

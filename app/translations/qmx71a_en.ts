<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="ja_JP">
<context>
    <name>qmx::app::ProductionPanel</name>
    <message>
        <source>量産</source>
        <translation>Production</translation>
    </message>
    <message>
        <source>挿入で自動開始</source>
        <translation>Start on insertion</translation>
    </message>
    <message>
        <source>接続中、ソケットにデバイスが挿入されるとプログラムを開始します。次のデバイスは、取り外してから挿入してください。</source>
        <translation>While connected, inserting a part into the socket starts Program. Remove each part before inserting the next.</translation>
    </message>
    <message>
        <source>シリアル番号</source>
        <translation>Serial number</translation>
    </message>
    <message>
        <source>アドレス</source>
        <translation>Address</translation>
    </message>
    <message>
        <source>開始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>増分</source>
        <translation>Step</translation>
    </message>
    <message>
        <source>状態ファイル</source>
        <translation>State file</translation>
    </message>
    <message>
        <source>実行ログ</source>
        <translation>Run log</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>Browse</translation>
    </message>
</context>
<context>
    <name>qmx::app::TAboutUnit</name>
    <message>
        <source>Qmx71aAppのバージョン情報</source>
        <translation>About Qmx71aApp</translation>
    </message>
    <message>
        <source>アプリケーションのバージョン</source>
        <translation>Application version</translation>
    </message>
    <message>
        <source>ファームウェアのバージョン</source>
        <translation>Firmware version</translation>
    </message>
</context>
<context>
    <name>qmx::app::THexEdit</name>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>HEXエディタの終了(&amp;X)</source>
        <translation>E&amp;xit Hex Editor</translation>
    </message>
    <message>
        <source>データーモード</source>
        <translation>Data mode</translation>
    </message>
    <message>
        <source>バイトモード</source>
        <translation>Byte mode</translation>
    </message>
    <message>
        <source>リトルエンディアン</source>
        <translation>Little endian</translation>
    </message>
    <message>
        <source>ビッグエンディアン</source>
        <translation>Big endian</translation>
    </message>
    <message>
        <source>編集(&amp;E)</source>
        <translation>&amp;Edit</translation>
    </message>
    <message>
        <source>元に戻す(&amp;U)</source>
        <translation>&amp;Undo</translation>
    </message>
    <message>
        <source>やり直し(&amp;R)</source>
        <translation>&amp;Redo</translation>
    </message>
    <message>
        <source>検索(&amp;F)</source>
        <translation>&amp;Find</translation>
    </message>
    <message>
        <source>次を検索(&amp;N)</source>
        <translation>Find &amp;Next</translation>
    </message>
    <message>
        <source>前を検索(&amp;P)</source>
        <translation>Find &amp;Previous</translation>
    </message>
    <message>
        <source>アドレスへ移動(&amp;G)</source>
        <translation>&amp;Go to Address</translation>
    </message>
    <message>
        <source>範囲を埋める(&amp;L)</source>
        <translation>Fi&amp;ll Range</translation>
    </message>
    <message>
        <source>検索</source>
        <translation>Find</translation>
    </message>
    <message>
        <source>16進</source>
        <translation>Hex</translation>
    </message>
    <message>
        <source>テキスト</source>
        <translation>Text</translation>
    </message>
    <message>
        <source>16進の値を4桁ずつ入力してください。</source>
        <translation>Enter hex words of four digits.</translation>
    </message>
    <message>
        <source>16進の値を2桁ずつ入力してください。</source>
        <translation>Enter hex bytes of two digits.</translation>
    </message>
    <message>
        <source>検索する文字を入力してください。</source>
        <translation>Enter the text to find.</translation>
    </message>
    <message>
        <source>見つかりませんでした。</source>
        <translation>Not found.</translation>
    </message>
    <message>
        <source>アドレス %1 に見つかりました。</source>
        <translation>Found at address %1.</translation>
    </message>
    <message>
        <source>(折り返して検索しました)</source>
        <translation>(search wrapped around)</translation>
    </message>
    <message>
        <source>アドレスがデバイスの範囲外です。</source>
        <translation>The address is beyond the device.</translation>
    </message>
    <message>
        <source>アドレスへ移動</source>
        <translation>Go to Address</translation>
    </message>
    <message>
        <source>アドレス (16進)</source>
        <translation>Address (hex)</translation>
    </message>
    <message>
        <source>アドレスは16進で入力してください。</source>
        <translation>Enter the address in hex.</translation>
    </message>
    <message>
        <source>%1 から %2 バイトを %3 で埋めました。</source>
        <translation>Filled %2 bytes from %1 with %3.</translation>
    </message>
    <message>
        <source>範囲を埋める</source>
        <translation>Fill Range</translation>
    </message>
    <message>
        <source>埋める値 (16進 00～FF)</source>
        <translation>Fill value (hex 00 to FF)</translation>
    </message>
    <message>
        <source>埋める値は16進 00～FF で入力してください。</source>
        <translation>Enter the fill value in hex, 00 to FF.</translation>
    </message>
    <message>
        <source>元に戻す変更はありません。</source>
        <translation>Nothing to undo.</translation>
    </message>
    <message>
        <source>やり直す変更はありません。</source>
        <translation>Nothing to redo.</translation>
    </message>
    <message>
        <source>比較の相違: %1 セル</source>
        <translation>Compare differences: %1 cells</translation>
    </message>
    <message>
        <source>(比較は %1 までで終わりました)</source>
        <translation>(the compare ended at %1)</translation>
    </message>
    <message>
        <source>%1 (デバイス %2)</source>
        <translation>%1 (device %2)</translation>
    </message>
    <message>
        <source>次の相違へ(&amp;D)</source>
        <translation>Next &amp;Difference</translation>
    </message>
    <message>
        <source>相違のあるセルはありません。</source>
        <translation>No cell differs.</translation>
    </message>
</context>
<context>
    <name>qmx::app::TMainUnit</name>
    <message>
        <source>デバイスのタイプ</source>
        <translation>Device type</translation>
    </message>
    <message>
        <source>デバイスの種類</source>
        <translation>Device</translation>
    </message>
    <message>
        <source>接続</source>
        <translation>Connect</translation>
    </message>
    <message>
        <source>書き込みファイル</source>
        <translation>Data file</translation>
    </message>
    <message>
        <source>参照</source>
        <translation>Browse...</translation>
    </message>
    <message>
        <source>読み出し</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>書き込み</source>
        <translation>Write</translation>
    </message>
    <message>
        <source>比較</source>
        <translation>Compare</translation>
    </message>
    <message>
        <source>消去</source>
        <translation>Erase</translation>
    </message>
    <message>
        <source>ﾌﾞﾗﾝｸﾁｪｯｸ</source>
        <translation>Blank check</translation>
    </message>
    <message>
        <source>プログラム</source>
        <translation>Program</translation>
    </message>
    <message>
        <source>実行</source>
        <translation>Runs</translation>
    </message>
    <message>
        <source>成功</source>
        <translation>Passed</translation>
    </message>
    <message>
        <source>エラー</source>
        <translation>Errors</translation>
    </message>
    <message>
        <source>リセット</source>
        <translation>Reset</translation>
    </message>
    <message>
        <source>共通</source>
        <translation>Common</translation>
    </message>
    <message>
        <source>ページサイズ</source>
        <translation>Page size</translation>
    </message>
    <message>
        <source>量産パネル(&amp;P)</source>
        <translation>&amp;Production panel</translation>
    </message>
    <message>
        <source>実行ログを開けません: %1</source>
        <translation>Cannot open the run log: %1</translation>
    </message>
    <message>
        <source>シリアル番号の形式が正しくありません: %1</source>
        <translation>The serial number format is not valid: %1</translation>
    </message>
    <message>
        <source>シリアル番号のアドレスまたは増分が正しくありません。</source>
        <translation>The serial number address or step is not valid.</translation>
    </message>
    <message>
        <source>シリアル番号の状態ファイル: %1</source>
        <translation>Serial number state file: %1</translation>
    </message>
    <message>
        <source>シリアル番号: %1</source>
        <translation>Serial number: %1</translation>
    </message>
    <message>
        <source>シリアル番号がデバイスに収まりません。</source>
        <translation>The serial number does not fit in the part.</translation>
    </message>
    <message>
        <source>シリアル番号 %1</source>
        <translation>Serial number %1</translation>
    </message>
    <message>
        <source>次の番号 %1</source>
        <translation>Next %1</translation>
    </message>
    <message>
        <source>次のシリアル番号を保存できません: %1</source>
        <translation>Cannot store the next serial number: %1</translation>
    </message>
    <message>
        <source>実行ログに書き込めません: %1</source>
        <translation>Cannot write to the run log: %1</translation>
    </message>
    <message>
        <source>推奨 %1</source>
        <translation>Suggest %1</translation>
    </message>
    <message>
        <source>データシートのページサイズは %1 バイトです。ページサイズに入力すると書き込みが速くなります。書き込みの後でベリファイしてください。</source>
        <translation>The datasheet page size is %1 bytes. Entering it as the page size makes writes faster. Verify after writing.</translation>
    </message>
    <message>
        <source>動作クロック</source>
        <translation>Clock</translation>
    </message>
    <message>
        <source>高速(400KHz)</source>
        <translation>Fast (400KHz)</translation>
    </message>
    <message>
        <source>標準(100KHz)</source>
        <translation>Standard (100KHz)</translation>
    </message>
    <message>
        <source>低速(10KHz/48KHz)</source>
        <translation>Slow (10KHz/48KHz)</translation>
    </message>
    <message>
        <source>超低速(2KHz/48KHz)</source>
        <translation>Very slow (2KHz/48KHz)</translation>
    </message>
    <message>
        <source>消去しない</source>
        <translation>No erase</translation>
    </message>
    <message>
        <source>消去する</source>
        <translation>Erase first</translation>
    </message>
    <message>
        <source>書込時間</source>
        <translation>Write time</translation>
    </message>
    <message>
        <source>ISPのVPPから3.3Vを出力する</source>
        <translation>Supply 3.3 V from the ISP VPP pin</translation>
    </message>
    <message>
        <source>拡張設定を保存</source>
        <translation>Save extended settings</translation>
    </message>
    <message>
        <source>マイクロワイヤデバイス用</source>
        <translation>For Microwire devices</translation>
    </message>
    <message>
        <source>データ</source>
        <translation>Data</translation>
    </message>
    <message>
        <source>バイトモード</source>
        <translation>Byte mode</translation>
    </message>
    <message>
        <source>リトルエンディアン</source>
        <translation>Little endian</translation>
    </message>
    <message>
        <source>ビッグエンディアン</source>
        <translation>Big endian</translation>
    </message>
    <message>
        <source>転送</source>
        <translation>Read</translation>
    </message>
    <message>
        <source>マルチ</source>
        <translation>Multi</translation>
    </message>
    <message>
        <source>シングル</source>
        <translation>Single</translation>
    </message>
    <message>
        <source>クリア</source>
        <translation>Clear</translation>
    </message>
    <message>
        <source>ファイル(&amp;F)</source>
        <translation>&amp;File</translation>
    </message>
    <message>
        <source>HEXファイルに保存(&amp;S)</source>
        <translation>&amp;Save as HEX file</translation>
    </message>
    <message>
        <source>アプリケーションの終了(&amp;X)</source>
        <translation>E&amp;xit</translation>
    </message>
    <message>
        <source>ツール(&amp;T)</source>
        <translation>&amp;Tools</translation>
    </message>
    <message>
        <source>HexEditorの起動(&amp;H)</source>
        <translation>&amp;Hex Editor</translation>
    </message>
    <message>
        <source>拡張設定(&amp;X)</source>
        <translation>E&amp;xtended settings</translation>
    </message>
    <message>
        <source>チェックサムの取得(&amp;S)</source>
        <translation>Get check&amp;sum</translation>
    </message>
    <message>
        <source>ログの消去(&amp;C)</source>
        <translation>&amp;Clear log</translation>
    </message>
    <message>
        <source>バッファクリア(&amp;B)</source>
        <translation>Clear &amp;buffer</translation>
    </message>
    <message>
        <source>ハードウェアリセット</source>
        <translation>Hardware reset</translation>
    </message>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>アプリケーションのバージョン(&amp;V)</source>
        <translation>&amp;Version</translation>
    </message>
    <message>
        <source>ログデータのクリア(&amp;C)</source>
        <translation>&amp;Clear log</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>ポートは他のプログラムが使用中です。</source>
        <translation>The port is in use by another program.</translation>
    </message>
    <message>
        <source>切断</source>
        <translation>Disconnect</translation>
    </message>
    <message>
        <source>HEXファイルの読み込みに失敗しました。</source>
        <translation>Failed to read the HEX file.</translation>
    </message>
    <message>
        <source>%1秒</source>
        <translation>%1 s</translation>
    </message>
    <message>
        <source>----- プログラムカウント %1 -----</source>
        <translation>----- Program count %1 -----</translation>
    </message>
    <message>
        <source>中止しました。</source>
        <translation>Cancelled.</translation>
    </message>
    <message>
        <source>-- プログラム正常終了 --</source>
        <translation>-- Program completed successfully --</translation>
    </message>
    <message>
        <source>ブランクチェック</source>
        <translation>Blank check</translation>
    </message>
    <message>
        <source>チェックサム</source>
        <translation>Checksum</translation>
    </message>
    <message>
        <source>インテルHEXファイル(*.hex)</source>
        <translation>Intel HEX files (*.hex)</translation>
    </message>
    <message>
        <source>Sレコードファイル(*.srec *.s19 *.s28 *.s37 *.mot)</source>
        <translation>S-record files (*.srec *.s19 *.s28 *.s37 *.mot)</translation>
    </message>
    <message>
        <source>バイナリファイル(*.bin)</source>
        <translation>Binary files (*.bin)</translation>
    </message>
    <message>
        <source>チェックサムの取得 (CRC-32, SHA-256)(&amp;D)</source>
        <translation>Get checksum with CRC-32 and SHA-256 (&amp;D)</translation>
    </message>
    <message>
        <source>ファイルのデータがデバイスの容量を超えています（%1 バイトを無視しました）。</source>
        <translation>The file&apos;s data exceeds the device&apos;s capacity (%1 bytes ignored).</translation>
    </message>
    <message>
        <source>ファイルの上書き</source>
        <translation>Overwrite file</translation>
    </message>
    <message>
        <source>ファイルを上書きしてもよろしいですか？</source>
        <translation>Do you want to overwrite the file?</translation>
    </message>
    <message>
        <source>ファイルの保存に失敗しました。</source>
        <translation>Failed to save the file.</translation>
    </message>
    <message>
        <source>バッファをクリアしました。</source>
        <translation>Buffer cleared.</translation>
    </message>
</context>
<context>
    <name>qmx::core</name>
    <message>
        <source>マイクロワイヤデバイス</source>
        <translation>Microwire devices</translation>
    </message>
    <message>
        <source>I2Cデバイス</source>
        <translation>I2C devices</translation>
    </message>
    <message>
        <source>SPIデバイス</source>
        <translation>SPI devices</translation>
    </message>
    <message>
        <source>中止しました。</source>
        <translation>Cancelled.</translation>
    </message>
    <message>
        <source>エラーが発生しました。</source>
        <translation>An error occurred.</translation>
    </message>
    <message>
        <source>デバイス消去が完了しました。</source>
        <translation>Device erase complete.</translation>
    </message>
    <message>
        <source>書き込みが完了しました。</source>
        <translation>Write complete.</translation>
    </message>
    <message>
        <source>プログラマが応答しません。</source>
        <translation>The programmer does not respond.</translation>
    </message>
    <message>
        <source>デバイスが挿入されていません。</source>
        <translation>No device is inserted.</translation>
    </message>
    <message>
        <source>このデバイスは、メモリサイズが識別できません。。</source>
        <translation>The memory size of this device cannot be identified.</translation>
    </message>
    <message>
        <source>デバイスのメモリサイズが異なります。</source>
        <translation>The device&apos;s memory size differs.</translation>
    </message>
    <message>
        <source>デバイスのメモリサイズが異なります。このまま続行しますか？</source>
        <translation>The device&apos;s memory size differs. Continue anyway?</translation>
    </message>
    <message>
        <source>メモリサイズエラー</source>
        <translation>Memory size error</translation>
    </message>
    <message>
        <source>読出しデータ:</source>
        <translation>Read data:</translation>
    </message>
    <message>
        <source>データはバッファと同一です。</source>
        <translation>The data matches the buffer.</translation>
    </message>
    <message>
        <source>デバイスはブランクです。</source>
        <translation>The device is blank.</translation>
    </message>
    <message>
        <source>メモリ読出しでエラーが発生しました。</source>
        <translation>An error occurred while reading the memory.</translation>
    </message>
    <message>
        <source>データ比較でエラーが発生しました。</source>
        <translation>The data compare found an error.</translation>
    </message>
    <message>
        <source>デバイスはブランクではありません。</source>
        <translation>The device is not blank.</translation>
    </message>
    <message>
        <source>チェックサムの取得でエラーが発生しました。</source>
        <translation>An error occurred while getting the checksum.</translation>
    </message>
    <message>
        <source>相違 %d バイト: 最初はアドレス %04X (デバイス %02X, バッファ %02X)</source>
        <translation>%d bytes differ: first at address %04X (device %02X, buffer %02X)</translation>
    </message>
</context>
</TS>

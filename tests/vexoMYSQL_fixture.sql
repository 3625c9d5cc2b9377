-- Fixture tables of the database client's tests, loaded into the test database by the CTest
-- setup (tests/CMakeLists.txt) through the server's own client as the administrator. This file is
-- UTF-8; the connection that loads it is utf8mb4, every text column is utf8mb4.
-- Each test that writes has a table of its own, so that the tests can run in parallel.
SET NAMES utf8mb4;

-- Read only.
CREATE TABLE people (id INT PRIMARY KEY, name VARCHAR(50));
INSERT INTO people VALUES (1, 'alice'), (2, 'bob'), (3, 'carol');

CREATE TABLE empty_table (id INT PRIMARY KEY, name VARCHAR(50));

CREATE TABLE with_nulls (id INT PRIMARY KEY, name VARCHAR(50), note VARCHAR(50));
INSERT INTO with_nulls VALUES (1, NULL, 'x'), (2, 'y', NULL);

CREATE TABLE binary_values (id INT PRIMARY KEY, v VARBINARY(16));
INSERT INTO binary_values VALUES (1, X'610062'), (2, X'00FF0A');

CREATE TABLE chinese (id INT PRIMARY KEY, name VARCHAR(50) CHARACTER SET utf8mb4);
INSERT INTO chinese VALUES (1, '中文数据'), (2, '你好，世界'), (3, '岚舟工作室');

-- Written by one test each.
CREATE TABLE ins_plain (id INT PRIMARY KEY, name VARCHAR(50));
CREATE TABLE ins_quotes (id INT PRIMARY KEY, a VARCHAR(50), b VARCHAR(50));
CREATE TABLE ins_same_line (id INT PRIMARY KEY, name VARCHAR(50));
CREATE TABLE ins_empty_values (id INT PRIMARY KEY, name VARCHAR(50));
CREATE TABLE ins_duplicate (id INT PRIMARY KEY, name VARCHAR(50));
INSERT INTO ins_duplicate VALUES (1, 'first');
CREATE TABLE ins_no_rows (id INT PRIMARY KEY);
INSERT INTO ins_no_rows VALUES (1);
CREATE TABLE ins_found_rows (id INT PRIMARY KEY);
INSERT INTO ins_found_rows VALUES (1);
CREATE TABLE ins_null (id INT PRIMARY KEY, name VARCHAR(50));
CREATE TABLE ins_chinese (id INT PRIMARY KEY, name VARCHAR(50) CHARACTER SET utf8mb4);
CREATE TABLE ins_unquoted (id INT PRIMARY KEY, name VARCHAR(50));
CREATE TABLE ins_end_of_input (id INT PRIMARY KEY, name VARCHAR(50));
CREATE TABLE ins_returning (id INT PRIMARY KEY);
CREATE TABLE ins_interactive (id INT PRIMARY KEY, name VARCHAR(50));
CREATE TABLE ins_shell (id INT PRIMARY KEY, name VARCHAR(50) CHARACTER SET utf8mb4);
CREATE TABLE ins_valgrind (id INT PRIMARY KEY, name VARCHAR(50) CHARACTER SET utf8mb4);
CREATE TABLE many_rows (id INT PRIMARY KEY, name VARCHAR(50));
INSERT INTO many_rows SELECT seq, CONCAT('row-', seq) FROM seq_1_to_5000;

-- A second user whose password is far longer than 224 characters (answers have no length limit).
SET @statement = CONCAT('CREATE USER ''longpw''@''127.0.0.1'' IDENTIFIED BY ''',
                        REPEAT('p', 300), '''');
PREPARE create_user FROM @statement;
EXECUTE create_user;
DEALLOCATE PREPARE create_user;
GRANT SELECT ON people TO 'longpw'@'127.0.0.1';
